#include "agent/AgentButtons.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "AgentVocabulary.h"
#include "core/AgentWindow.h"
#include "agent/CImplementation.h"
#include "agent/LoginEntries.h"
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

AgentButtons::AgentButtons(CImplementation& core, AgentWindow& window) : core_(core), window_(window) {}

bool AgentButtons::OnBnClickedButtonLogin(const LoginEntries& entries) {
    logMessage(LogLevel::Debug, "OnBnClickedButtonLogin");
    if (!entries.confirm(core_.storedSettings(), core_.profile())) return false;
    logMessage(LogLevel::Debug, "doAgentLogin");
    core_.doAgentLogin();
    return true;
}

void AgentButtons::OnBnClickedButtonLogout() {
    logMessage(LogLevel::Debug, "OnBnClickedButtonLogout");
    core_.requestLogout("USER_REQUEST_LOGOUT");
}

void AgentButtons::OnBnClickedButtonReady() { core_.clickReady(); }

void AgentButtons::OnBnClickedButtonNotReady() {
    logMessage(LogLevel::Debug, "OnBnClickedButtonNotReady");
    core_.outbound().SendAgentClickNotReadyToCti();
    core_.outbound().SendNotReadyToCti();
}

void AgentButtons::OnBnClickedButtonHangup() {
    logMessage(LogLevel::Debug, "OnBnClickedButtonHangup");
    core_.outbound().SendAgentHangUpToCti();
    core_.QueuePhoneEvent(agent::HangUpEvent);
    core_.status().inCall = false;
}

void AgentButtons::OnBnClickedButtonDial() {
    logMessage(LogLevel::Debug, "COrvaneDlg::OnBnClickedButtonDial");
    const std::string state = core_.status().agentState();
    if (state == "AgentReady" || state == "AgentNotReady") {
        core_.lines().selectIaxLine(state == "AgentReady" ? 1 : 0);
        core_.outbound().SendAgentPersonnalDialToCti();  // the answer opens the dial pad
        return;
    }
    showDialPad();
}

void AgentButtons::showDialPad() {
    logMessage(LogLevel::Debug, "COrvaneDlg::showDialPad");
    const std::string state = core_.status().agentState();
    if (state == "AgentNotReady" || state == "AgentReady") {
        core_.lines().selectIaxLine(state == "AgentReady" ? 1 : 0);
        core_.QueuePhoneEvent(agent::DialingEvent);
    }
    const DialWindowResult choice = window_.runDialWindow("Dialpad");
    core_.wrapUpChecker().setInWrapUp(false);
    if (!choice.confirmed) {
        core_.QueuePhoneEvent(agent::CloseDialEvent);
        return;
    }
    const std::string number = trimmed(choice.number);
    if (number.empty()) {
        logMessage(LogLevel::Warning, "Dial String empty... cancelling dial");
        core_.QueuePhoneEvent(agent::CloseDialEvent);
        return;
    }
    addToDialHistory(number);
    if (state == "AgentNotReady") {
        // A call the agent makes while not ready is recorded under the number dialled.
        logMessage(LogLevel::Debug, "Implementation : Copy dial string to ani string for Not-Ready Recordings");
        core_.call().setAni(number);
    }
    if (core_.lines().useOnlytt()) return;
    core_.dial(number, core_.getVelmoraTrackNum(-1));
}

void AgentButtons::showPreviewDial() {
    const DialWindowResult choice = window_.runDialWindow("Preview Dialing", core_.call().snapshot().dialledNumber);
    if (!choice.confirmed) {
        core_.QueuePhoneEvent(agent::CloseDialEvent);
        return;
    }
    core_.dialPreview(trimmed(choice.number).empty() ? core_.call().snapshot().dialledNumber : trimmed(choice.number));
}

void AgentButtons::addToDialHistory(const std::string& number) {
    core_.call().setDialledNumber(number);
    core_.storedSettings().dialList.update([&](std::vector<std::string>& list) {
        const bool known = std::any_of(list.begin(), list.end(),
                                       [&](const std::string& entry) { return sameIgnoringCase(entry, number); });
        if (known) return;
        if (list.size() > 9) list.pop_back();
        list.insert(list.begin(), number);
    });
    core_.storedSettings().saveDialList();
}

void AgentButtons::OnNotReadyReasonChosen(int command) {
    if (command < kFirstReasonCommand || command > kLastReasonCommand) return;
    logMessage(LogLevel::Debug, "OnBnClickedButtonNotReadyReason");
    const std::vector<std::string> reasons = core_.notReadyReasons();
    const std::size_t index = static_cast<std::size_t>(command - kFirstReasonCommand);
    const std::string reason = index < reasons.size() ? reasons[index] : std::string();
    if (!sameIgnoringCase(reason, "wrapup")) {
        core_.status().setNotReadyReason(reason);
        logMessage(LogLevel::Debug, "Not Ready Reason chosen [%s]", reason.c_str());
        core_.wrapUpChecker().setInWrapUp(false);
    } else {
        core_.status().setNotReadyReason("");
    }
    core_.outbound().SendAgentClickNotReadyToCti();
    core_.QueuePhoneEvent(agent::NotReadyReasonSetEvent);
}

void AgentButtons::OnBnClickedButtonClose() {
    logMessage(LogLevel::Debug, "OnBnClickedButtonClose");
    window_.enableControl(Control::Close, false);
    for (Control button : {Control::Logout, Control::Ready, Control::NotReady, Control::HangUp, Control::Dial,
                           Control::Transfer, Control::Conference, Control::Hold, Control::Unhold,
                           Control::NotReadyReason, Control::AttachedData})
        window_.enableControl(button, false);
    window_.setWindowClosing();
    core_.showTicker({"Please wait ... Closing ", 0x46839D, 0x000000, 0, 3});
    core_.doWaitforCleanClose();
}

std::optional<AttachedDataView> AgentButtons::attachedData() {
    std::optional<AttachedDataView> view;
    core_.withCallData([&](CallData& data) {
        const AttachedDataList& list = data.attachedData();
        view.emplace();
        view->callEnded = list.callEnded();
        for (const AttachedData& record : list.items())
            if (!record.deleted) view->rows.push_back({record.key, record.value, record.readOnly || view->callEnded});
    });
    return view;
}

void AgentButtons::OnBnClickedButtonSaveAttachedData(const std::vector<std::pair<std::string, std::string>>& rows) {
    core_.withCallData([&](CallData& data) {
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
    core_.outbound().SendAttachedDataToCti();
}
