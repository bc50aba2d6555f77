#include "core/ScreenState.h"

#include <string>

#include "AgentActions.h"
#include "core/AgentStatus.h"
#include "infra/CLogger.h"

ScreenState::ScreenState(AgentWindow& window, AgentStatus& status, AgentActions& actions)
    : window_(window), status_(status), actions_(actions) {}

void ScreenState::disableButton(Control button) {
    if (window_.controlExists(button))
        window_.enableControl(button, false);
    else
        logMessage(LogLevel::Error, "Button does not exist");
}

// The Enable rule before any permission: never while closing, never a missing button.
bool ScreenState::mayEnable(Control button) {
    if (window_.windowClosing()) {
        logMessage(LogLevel::Debug, "Orvane closing ");
        return false;
    }
    if (!window_.controlExists(button)) {
        logMessage(LogLevel::Error, "Button does not exist");
        return false;
    }
    return true;
}

void ScreenState::showButton(Control button, bool visible) {
    if (window_.controlExists(button))
        window_.showControl(button, visible);
    else
        logMessage(LogLevel::Error, "Button does not exist");
}

void ScreenState::disable(Control button, const char* operation) {
    logMessage(LogLevel::Debug, "%s", operation);
    disableButton(button);
}

void ScreenState::enable(Control button, const char* operation) {
    logMessage(LogLevel::Debug, "%s", operation);
    if (mayEnable(button)) window_.enableControl(button, true);
}

void ScreenState::show(Control button, const char* operation) {
    logMessage(LogLevel::Debug, "%s", operation);
    showButton(button, true);
}

void ScreenState::hide(Control button, const char* operation) {
    logMessage(LogLevel::Debug, "%s", operation);
    showButton(button, false);
}

void ScreenState::enableDial() {
    logMessage(LogLevel::Debug, "CImplementation::EnableDial()");
    if (!mayEnable(Control::Dial)) return;
    const bool allowed = status_.dialAllowed;
    logMessage(LogLevel::Debug, allowed ? "getDialingButtonState true" : "getDialingButtonState false");
    window_.enableControl(Control::Dial, allowed);
}

void ScreenState::enableTransfer() {
    logMessage(LogLevel::Debug, "CImplementation::EnableTransfer()");
    if (!mayEnable(Control::Transfer)) return;
    if (status_.transferAllowed)
        window_.enableControl(Control::Transfer, true);
    else
        logMessage(LogLevel::Debug, "TransferButtonState false");
}

void ScreenState::enableConference() {
    logMessage(LogLevel::Debug, "CImplementation::EnableConference()");
    if (!mayEnable(Control::Conference)) return;
    if (status_.conferenceAllowed)
        window_.enableControl(Control::Conference, true);
    else
        logMessage(LogLevel::Debug, "ConferenceButtonState false");
}

void ScreenState::hideAttachedDataButton() {
    logMessage(LogLevel::Debug, "CImplementation::HideAttachedDataButton()");
    if (window_.controlExists(Control::AttachedData)) window_.showControl(Control::AttachedData, false);
    window_.hideAttachedDataWindow();
}

void ScreenState::setDialogControlEnabled(Control control, bool enabled, const char* operation) {
    logMessage(LogLevel::Debug, "%s", operation);
    if (window_.controlExists(control)) window_.enableControl(control, enabled);
}

void ScreenState::setLineSelectedMark(int line, bool selected, const char* operation) {
    logMessage(LogLevel::Debug, "%s", operation);
    const Control selectedMark = line == 1 ? Control::ConferenceLine1Selected : Control::ConferenceLine2Selected;
    const Control unselectedMark = line == 1 ? Control::ConferenceLine1Unselected : Control::ConferenceLine2Unselected;
    if (window_.controlExists(selectedMark)) window_.showControl(selectedMark, selected);
    if (window_.controlExists(unselectedMark)) window_.showControl(unselectedMark, !selected);
}

void ScreenState::disableOkDial() {
    logMessage(LogLevel::Debug, "CImplementation::DisableOkDial()");
    if (!window_.dialWindowOpen()) return;  // no dial pad, no button to miss
    if (window_.controlExists(Control::DialPadOk))
        window_.enableControl(Control::DialPadOk, false);
    else
        logMessage(LogLevel::Debug, "Button does not exist");
}

void ScreenState::setTitle(Title title) {
    if (!window_.controlExists(Control::StatusLine)) return;
    std::string status;
    std::string caption;
    switch (title) {
    case Title::LoggedOut: status = "[Logged Out]"; break;
    case Title::NotReady: {
        const std::string reason = status_.notReadyReason();
        status = reason.empty() ? "[Not Ready]" : "[Not Ready : " + reason + "]";
        caption = status;
        break;
    }
    case Title::Ready: status = "[Ready]"; break;
    case Title::InCall:
        status = "[In Call]";
        status_.inCall = true;
        break;
    case Title::InCallSubmitReq: status = "[In Call-Submit Required]"; break;
    case Title::NotReadySubmitReq: status = "[Not Ready-Submit Required]"; break;
    case Title::PreviewDialing: status = "[Preview Dialing]"; break;
    case Title::PreviewDialingSubmitReq: status = "[Preview Dialing-Submit Required]"; break;
    }
    if (caption.empty()) caption = "Orvane " + status;
    window_.setStatusText(status);
    window_.setCaption(window_.titlePrefix() + "  " + caption);
}

void ScreenState::setAgentState(const char* name, StateEffect effect) {
    status_.setAgentState(name);
    if (effect != StateEffect::None) status_.inCall = false;
    if (effect == StateEffect::NotReady) status_.agentReady = false;
    if (effect == StateEffect::Ready) status_.agentReady = true;
}

void ScreenState::setInitialStateButtons() {
    logMessage(LogLevel::Debug, "CImplementation::SetInitialStateButton()");
    actions_.ShowLogin();
    actions_.HideLogout();
    actions_.ShowReady();
    actions_.DisableReady();
    actions_.HideNotReady();
    actions_.ShowNotReadyReason();
    actions_.DisableNotReadyReason();
    showButton(Control::HangUp, true);
    actions_.DisableHangUp();
    showButton(Control::Dial, true);
    actions_.HideHold();
    actions_.ShowUnHold();
    actions_.DisableHold();
    actions_.DisableUnHold();
    actions_.DisableDial();
    showButton(Control::Transfer, true);
    actions_.DisableTransfer();
    showButton(Control::Conference, true);
    actions_.DisableConference();
    actions_.SetTitleLoggedOut();
    actions_.SetStateAgentLoggedOut();
    actions_.HideAttachedDataButton();
}

void ScreenState::setNotReadyStateButtons() {
    logMessage(LogLevel::Debug, "CImplementation::SetNotReadyStateButton()");
    actions_.DisableOkDial();
    actions_.DisableHangUp();
    actions_.DisableTransfer();
    actions_.DisableConference();
    actions_.EnableLogout();
    actions_.EnableNotReady();
    actions_.HideNotReady();
    actions_.EnableReady();
    actions_.ShowReady();
    actions_.EnableDial();
    actions_.SetTitleNotReady();
    actions_.DisableHold();
    actions_.DisableUnHold();
    actions_.UnsetUseOnlytt();
    actions_.SetStateAgentNotReady();
    actions_.SetInWrapUp();
}

void ScreenState::setSubmitRequiredStateButtons() {
    logMessage(LogLevel::Debug, "CImplementation::SetSubmitRequiredStateButton()");
    actions_.DisableOkDial();
    actions_.DisableLogin();
    actions_.DisableLogout();
    actions_.DisableHangUp();
    actions_.DisableTransfer();
    actions_.DisableConference();
    actions_.DisableDial();
    actions_.EnableLogout();
    actions_.EnableNotReady();
    actions_.HideLogin();
    actions_.HideNotReady();
    actions_.ShowLogout();
    actions_.ShowReady();
    actions_.SetInWrapUp();
    actions_.UnsetUseOnlytt();
    actions_.SetStateAgentNotReadySubmitReq();
    actions_.SetTitleNotReadySubmitReq();
}

void ScreenState::setNotReadySubmitReqStateButtons() {
    logMessage(LogLevel::Debug, "CImplementation::SetNotReadySubmitReqStateButton()");
    actions_.DisableOkDial();
    actions_.DisableHangUp();
    actions_.DisableTransfer();
    actions_.DisableConference();
    actions_.DisableLogin();
    actions_.DisableLogout();
    actions_.DisableNotReady();
    actions_.HideNotReady();
    actions_.DisableReady();
    actions_.HideLogin();
    actions_.ShowLogout();
    actions_.ShowReady();
    actions_.DisableDial();
    actions_.SetTitleNotReady();
    actions_.DisableHold();
    actions_.DisableUnHold();
    actions_.UnsetUseOnlytt();
    actions_.SetStateAgentNotReady();
    actions_.SetInWrapUp();
}

void ScreenState::setInCallStateButtons() {
    logMessage(LogLevel::Debug, "CImplementation::SetInCallStateButton()");
    if (status_.consultCall) {
        actions_.DisableTransfer();
        actions_.DisableConference();
        actions_.HideHold();
        actions_.ShowUnHold();
        actions_.DisableHold();
        actions_.DisableUnHold();
    } else {
        actions_.EnableTransfer();
        actions_.EnableConference();
        actions_.HideHold();
        actions_.ShowUnHold();
        actions_.EnableHold();
        actions_.EnableUnHold();
    }
    actions_.EnableDial();
    actions_.EnableNotReadyReason();
    actions_.DisableLogout();
    actions_.DisableNotReady();
    actions_.HideNotReady();
    actions_.DisableReady();
    actions_.ShowReady();
    actions_.SetTitleInCall();
    actions_.StartRecording();
    actions_.SetStateAgentReadyInCall();
    showButton(Control::AttachedData, true);
    actions_.SetUseOnlytt();
    actions_.EnableHangUp();
}
