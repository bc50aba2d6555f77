#include "agent/AgentButtons.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "AgentVocabulary.h"
#include "agent/LoginEntries.h"
#include "agent/StoredSettings.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "core/AgentStatus.h"
#include "cti/CtiSession.h"
#include "cti/OutboundMessages.h"
#include "desktop/WrapUpChecker.h"
#include "voice/LineControl.h"
#include "infra/CLogger.h"
#include "infra/Trimmed.h"

namespace {

constexpr std::size_t kLongestCell = 1024;

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

AgentButtons::AgentButtons(Services services, AgentWindow& window) : services_(services), window_(window) {}

bool AgentButtons::OnBnClickedButtonLogin(const LoginEntries& entries) {
    logMessage(LogLevel::Debug, "OnBnClickedButtonLogin");
    if (!entries.confirm(services_.stored, services_.profile)) return false;
    logMessage(LogLevel::Debug, "doAgentLogin");
    services_.agent.doAgentLogin();
    return true;
}

void AgentButtons::OnBnClickedButtonLogout() {
    logMessage(LogLevel::Debug, "OnBnClickedButtonLogout");
    services_.agent.requestLogout("USER_REQUEST_LOGOUT");
}

void AgentButtons::OnBnClickedButtonReady() { services_.agent.clickReady(); }

void AgentButtons::OnBnClickedButtonNotReady() {
    logMessage(LogLevel::Debug, "OnBnClickedButtonNotReady");
    services_.outbound.SendAgentClickNotReadyToCti();
    services_.outbound.SendNotReadyToCti();
}

void AgentButtons::OnBnClickedButtonHangup() {
    logMessage(LogLevel::Debug, "OnBnClickedButtonHangup");
    services_.outbound.SendAgentHangUpToCti();
    services_.agent.QueuePhoneEvent(agent::HangUpEvent);
    services_.status.inCall = false;
}

void AgentButtons::OnBnClickedButtonDial() {
    logMessage(LogLevel::Debug, "COrvaneDlg::OnBnClickedButtonDial");
    const std::string state = services_.status.agentState();
    if (state == "AgentReady" || state == "AgentNotReady") {
        services_.lines.selectIaxLine(state == "AgentReady" ? 1 : 0);
        services_.outbound.SendAgentPersonnalDialToCti();  // the answer opens the dial pad
        return;
    }
    showDialPad();
}

void AgentButtons::showDialPad() {
    logMessage(LogLevel::Debug, "COrvaneDlg::showDialPad");
    const std::string state = services_.status.agentState();
    if (state == "AgentNotReady" || state == "AgentReady") {
        services_.lines.selectIaxLine(state == "AgentReady" ? 1 : 0);
        services_.agent.QueuePhoneEvent(agent::DialingEvent);
    }
    const DialWindowResult choice = window_.runDialWindow("Dialpad");
    services_.wrapUp.setInWrapUp(false);
    if (!choice.confirmed) {
        services_.agent.QueuePhoneEvent(agent::CloseDialEvent);
        return;
    }
    const std::string number = trimmed(choice.number);
    if (number.empty()) {
        logMessage(LogLevel::Warning, "Dial String empty... cancelling dial");
        services_.agent.QueuePhoneEvent(agent::CloseDialEvent);
        return;
    }
    addToDialHistory(number);
    if (state == "AgentNotReady") {
        // A call the agent makes while not ready is recorded under the number dialled.
        logMessage(LogLevel::Debug, "Implementation : Copy dial string to ani string for Not-Ready Recordings");
        services_.call.setAni(number);
    }
    if (services_.lines.useOnlytt()) return;
    services_.agent.dial(number, services_.lines.getVelmoraTrackNum(LineControl::kSelectedLine));
}

void AgentButtons::showPreviewDial() {
    const DialWindowResult choice = window_.runDialWindow("Preview Dialing", services_.call.snapshot().dialledNumber);
    if (!choice.confirmed) {
        services_.agent.QueuePhoneEvent(agent::CloseDialEvent);
        return;
    }
    services_.agent.dialPreview(trimmed(choice.number).empty() ? services_.call.snapshot().dialledNumber : trimmed(choice.number));
}

void AgentButtons::addToDialHistory(const std::string& number) {
    services_.call.setDialledNumber(number);
    services_.stored.dialList.update([&](std::vector<std::string>& list) {
        const bool known = std::any_of(list.begin(), list.end(),
                                       [&](const std::string& entry) { return sameIgnoringCase(entry, number); });
        if (known) return;
        if (list.size() > 9) list.pop_back();
        list.insert(list.begin(), number);
    });
    services_.stored.saveDialList();
}

void AgentButtons::OnNotReadyReasonChosen(int command) {
    if (command < kFirstReasonCommand || command > kLastReasonCommand) return;
    logMessage(LogLevel::Debug, "OnBnClickedButtonNotReadyReason");
    const std::vector<std::string> reasons = services_.agent.notReadyReasons();
    const std::size_t index = static_cast<std::size_t>(command - kFirstReasonCommand);
    const std::string reason = index < reasons.size() ? reasons[index] : std::string();
    if (!sameIgnoringCase(reason, "wrapup")) {
        services_.status.setNotReadyReason(reason);
        logMessage(LogLevel::Debug, "Not Ready Reason chosen [%s]", reason.c_str());
        services_.wrapUp.setInWrapUp(false);
    } else {
        services_.status.setNotReadyReason("");
    }
    services_.outbound.SendAgentClickNotReadyToCti();
    services_.agent.QueuePhoneEvent(agent::NotReadyReasonSetEvent);
}

void AgentButtons::OnBnClickedButtonClose() {
    logMessage(LogLevel::Debug, "OnBnClickedButtonClose");
    window_.enableControl(Control::Close, false);
    for (Control button : {Control::Logout, Control::Ready, Control::NotReady, Control::HangUp, Control::Dial,
                           Control::Transfer, Control::Conference, Control::Hold, Control::Unhold,
                           Control::NotReadyReason, Control::AttachedData})
        window_.enableControl(button, false);
    window_.setWindowClosing();
    services_.agent.showTicker({"Please wait ... Closing ", 0x46839D, 0x000000, 0, 3});
    services_.agent.doWaitforCleanClose();
}

std::optional<AttachedDataView> AgentButtons::attachedData() {
    std::optional<AttachedDataView> view;
    services_.session.withCallData([&](CallData& data) {
        const AttachedDataList& list = data.attachedData();
        view.emplace();
        view->callEnded = list.callEnded();
        for (const AttachedData& record : list.items())
            if (!record.deleted) view->rows.push_back({record.key, record.value, record.readOnly || view->callEnded});
    });
    return view;
}

void AgentButtons::OnBnClickedButtonSaveAttachedData(const std::vector<std::pair<std::string, std::string>>& rows) {
    services_.session.withCallData([&](CallData& data) {
        AttachedDataList& list = data.attachedData();
        for (const auto& [keyCell, valueCell] : rows) {
            const std::string key = keyCell.substr(0, kLongestCell);
            const std::string value = valueCell.substr(0, kLongestCell);
            if (key.empty() || startsWith(key, "Key") || startsWith(value, "Value")) continue;
            const std::vector<AttachedData> records = list.items();
            const auto known = std::find_if(records.begin(), records.end(),
                                            [&](const AttachedData& record) { return record.key == key; });
            AttachedData record;
            if (known != records.end()) {
                record = *known;
            } else {
                record.key = key;
                record.type = AttachedData::Other;
            }
            record.value = value;
            list.set(record);
        }
    });
    services_.outbound.SendAttachedDataToCti();
}
