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
    ShowLogin();
    HideLogout();
    ShowReady();
    DisableReady();
    HideNotReady();
    ShowNotReadyReason();
    DisableNotReadyReason();
    showButton(Control::HangUp, true);
    DisableHangUp();
    showButton(Control::Dial, true);
    HideHold();
    ShowUnHold();
    DisableHold();
    DisableUnHold();
    DisableDial();
    showButton(Control::Transfer, true);
    DisableTransfer();
    showButton(Control::Conference, true);
    DisableConference();
    SetTitleLoggedOut();
    SetStateAgentLoggedOut();
    HideAttachedDataButton();
}

void ScreenState::setNotReadyStateButtons() {
    logMessage(LogLevel::Debug, "CImplementation::SetNotReadyStateButton()");
    DisableOkDial();
    DisableHangUp();
    DisableTransfer();
    DisableConference();
    EnableLogout();
    EnableNotReady();
    HideNotReady();
    EnableReady();
    ShowReady();
    EnableDial();
    SetTitleNotReady();
    DisableHold();
    DisableUnHold();
    actions_.UnsetUseOnlytt();
    SetStateAgentNotReady();
    actions_.SetInWrapUp();
}

void ScreenState::setSubmitRequiredStateButtons() {
    logMessage(LogLevel::Debug, "CImplementation::SetSubmitRequiredStateButton()");
    DisableOkDial();
    DisableLogin();
    DisableLogout();
    DisableHangUp();
    DisableTransfer();
    DisableConference();
    DisableDial();
    EnableLogout();
    EnableNotReady();
    HideLogin();
    HideNotReady();
    ShowLogout();
    ShowReady();
    actions_.SetInWrapUp();
    actions_.UnsetUseOnlytt();
    SetStateAgentNotReadySubmitReq();
    SetTitleNotReadySubmitReq();
}

void ScreenState::setNotReadySubmitReqStateButtons() {
    logMessage(LogLevel::Debug, "CImplementation::SetNotReadySubmitReqStateButton()");
    DisableOkDial();
    DisableHangUp();
    DisableTransfer();
    DisableConference();
    DisableLogin();
    DisableLogout();
    DisableNotReady();
    HideNotReady();
    DisableReady();
    HideLogin();
    ShowLogout();
    ShowReady();
    DisableDial();
    SetTitleNotReady();
    DisableHold();
    DisableUnHold();
    actions_.UnsetUseOnlytt();
    SetStateAgentNotReady();
    actions_.SetInWrapUp();
}

void ScreenState::setInCallStateButtons() {
    logMessage(LogLevel::Debug, "CImplementation::SetInCallStateButton()");
    if (status_.consultCall) {
        DisableTransfer();
        DisableConference();
        HideHold();
        ShowUnHold();
        DisableHold();
        DisableUnHold();
    } else {
        EnableTransfer();
        EnableConference();
        HideHold();
        ShowUnHold();
        EnableHold();
        EnableUnHold();
    }
    EnableDial();
    EnableNotReadyReason();
    DisableLogout();
    DisableNotReady();
    HideNotReady();
    DisableReady();
    ShowReady();
    SetTitleInCall();
    actions_.StartRecording();
    SetStateAgentReadyInCall();
    showButton(Control::AttachedData, true);
    actions_.SetUseOnlytt();
    EnableHangUp();
}

// clang-format off
void ScreenState::DisableCompleteConference() { setDialogControlEnabled(Control::CompleteConference, false, "CImplementation::DisableCompleteConference()"); }
void ScreenState::DisableConference() { disable(Control::Conference, "CImplementation::DisableConference()"); }
void ScreenState::DisableDial() { disable(Control::Dial, "CImplementation::DisableDial()"); }
void ScreenState::DisableHangUp() { disable(Control::HangUp, "CImplementation::DisableHangUp()"); }
void ScreenState::DisableHold() { disable(Control::Hold, "CImplementation::DisableHold()"); }
void ScreenState::DisableLine1Conference() { setDialogControlEnabled(Control::ConferenceLine1, false, "CImplementation::Disable Line 1 in complete conference()"); }
void ScreenState::DisableLine2Conference() { setDialogControlEnabled(Control::ConferenceLine2, false, "CImplementation::Disable Line 2 in complete conference()"); }
void ScreenState::DisableLogin() { disable(Control::Login, "CImplementation::DisableLogin()"); }
void ScreenState::DisableLogout() { disable(Control::Logout, "CImplementation::DisableLogout()"); }
void ScreenState::DisableNotReady() { disable(Control::NotReady, "CImplementation::DisableNotReady()"); }
void ScreenState::DisableNotReadyReason() { disable(Control::NotReadyReason, "CImplementation::DisableNotReadyReason()"); }
void ScreenState::DisableOkDial() { disableOkDial(); }
void ScreenState::DisableReady() { disable(Control::Ready, "CImplementation::DisableReady()"); }
void ScreenState::DisableTransfer() { disable(Control::Transfer, "CImplementation::DisableTransfer()"); }
void ScreenState::DisableUnHold() { disable(Control::Unhold, "CImplementation::DisableUnHold()"); }
void ScreenState::EnableCompleteConference() { setDialogControlEnabled(Control::CompleteConference, true, "CImplementation::EnableCompleteConference()"); }
void ScreenState::EnableConference() { enableConference(); }
void ScreenState::EnableDial() { enableDial(); }
void ScreenState::EnableHangUp() { enable(Control::HangUp, "CImplementation::EnableHangUp()"); }
void ScreenState::EnableHold() { enable(Control::Hold, "CImplementation::EnableHold()"); }
void ScreenState::EnableLine1Conference() { setDialogControlEnabled(Control::ConferenceLine1, true, "CImplementation::Enable Line 1 in complete conference()"); }
void ScreenState::EnableLine2Conference() { setDialogControlEnabled(Control::ConferenceLine2, true, "CImplementation::Enable Line 2 in complete conference()"); }
void ScreenState::EnableLogin() { enable(Control::Login, "CImplementation::EnableLogin()"); }
void ScreenState::EnableLogout() { enable(Control::Logout, "CImplementation::EnableLogout()"); }
void ScreenState::EnableNotReady() { enable(Control::NotReady, "CImplementation::EnableNotReady()"); }
void ScreenState::EnableNotReadyReason() { enable(Control::NotReadyReason, "CImplementation::EnableNotReadyReason()"); }
void ScreenState::EnableReady() { enable(Control::Ready, "CImplementation::EnableReady()"); }
void ScreenState::EnableTransfer() { enableTransfer(); }
void ScreenState::EnableUnHold() { enable(Control::Unhold, "CImplementation::EnableUnHold()"); }
void ScreenState::HideAttachedDataButton() { hideAttachedDataButton(); }
void ScreenState::HideHold() { hide(Control::Hold, "CImplementation::HideHold()"); }
void ScreenState::HideLine1SelectedConference() { setLineSelectedMark(1, false, "CImplementation::Hide Line 1 selected for conference"); }
void ScreenState::HideLine2SelectedConference() { setLineSelectedMark(2, false, "CImplementation::Hide Line 2 selected for conference"); }
void ScreenState::HideLogin() { hide(Control::Login, "CImplementation::HideLogin()"); }
void ScreenState::HideLogout() { hide(Control::Logout, "CImplementation::HideLogout()"); }
void ScreenState::HideNotReady() { hide(Control::NotReady, "CImplementation::HideNotReady()"); }
void ScreenState::HideReady() { hide(Control::Ready, "CImplementation::HideReady()"); }
void ScreenState::SetInCallStateButton() { setInCallStateButtons(); }
void ScreenState::SetInitialStateButton() { setInitialStateButtons(); }
void ScreenState::SetNotReadyStateButton() { setNotReadyStateButtons(); }
void ScreenState::SetNotReadySubmitReqStateButton() { setNotReadySubmitReqStateButtons(); }
void ScreenState::SetStateAgentGoingNotReady() { setAgentState("AgentGoingNotReady", StateEffect::ClearsInCall); }
void ScreenState::SetStateAgentGoingReady() { setAgentState("AgentGoingReady", StateEffect::ClearsInCall); }
void ScreenState::SetStateAgentGoingReadyInProgress() { setAgentState("AgentGoingReadyInProgress", StateEffect::None); }
void ScreenState::SetStateAgentLoggedIn() { setAgentState("AgentLoggedIn", StateEffect::None); }
void ScreenState::SetStateAgentLoggedInWhithNotReady() { setAgentState("AgentLoggedInWhithNotReadyState", StateEffect::None); }
void ScreenState::SetStateAgentLoggedOut() { setAgentState("AgentLoggedOut", StateEffect::None); }
void ScreenState::SetStateAgentLoggingOut() { setAgentState("AgentLoggingOut", StateEffect::None); }
void ScreenState::SetStateAgentNotReady() { setAgentState("AgentNotReady", StateEffect::NotReady); }
void ScreenState::SetStateAgentNotReadyCancellingConference() { setAgentState("AgentNotReadyCancellingConference", StateEffect::None); }
void ScreenState::SetStateAgentNotReadyCompletingConference() { setAgentState("AgentNotReadyCompletingConference", StateEffect::None); }
void ScreenState::SetStateAgentNotReadyInCall() { setAgentState("AgentNotReadyInCall", StateEffect::None); }
void ScreenState::SetStateAgentNotReadyInConference() { setAgentState("AgentNotReadyInConference", StateEffect::None); }
void ScreenState::SetStateAgentNotReadyInitiatingConference() { setAgentState("gentNotReadyInitiatingConference", StateEffect::None); }
void ScreenState::SetStateAgentNotReadySubmitReq() { setAgentState("AgentNotReadySubmitReq", StateEffect::ClearsInCall); }
void ScreenState::SetStateAgentNotReadyTransfering() { setAgentState("AgentNotReadyTransfering", StateEffect::None); }
void ScreenState::SetStateAgentReady() { setAgentState("AgentReady", StateEffect::Ready); }
void ScreenState::SetStateAgentReadyCancellingConference() { setAgentState("AgentReadyCancellingConference", StateEffect::None); }
void ScreenState::SetStateAgentReadyCompletingConference() { setAgentState("AgentReadyCompletingConference", StateEffect::None); }
void ScreenState::SetStateAgentReadyInCall() { setAgentState("AgentReadyInCall", StateEffect::None); }
void ScreenState::SetStateAgentReadyInCallReceivedTerminateCall() { setAgentState("AgentReadyInCallReceivedTerminateCall", StateEffect::None); }
void ScreenState::SetStateAgentReadyInConference() { setAgentState("AgentReadyInConference", StateEffect::None); }
void ScreenState::SetStateAgentReadyInitiatingConference() { setAgentState("AgentReadyInitiatingConference", StateEffect::None); }
void ScreenState::SetStateAgentReadyInitiatingConferenceInProgress() { setAgentState("AgentReadyInitiatingConferenceInProgress", StateEffect::None); }
void ScreenState::SetStateAgentReadyLoggingOut() { setAgentState("AgentReadyLoggingOut", StateEffect::None); }
void ScreenState::SetStateAgentReadySubmitReqCancellingConference() { setAgentState("AgentReadySubmitReqCancellingConference", StateEffect::None); }
void ScreenState::SetStateAgentReadySubmitReqCompletingConference() { setAgentState("AgentReadySubmitReqCompletingConference", StateEffect::None); }
void ScreenState::SetStateAgentReadySubmitReqEndingCall() { setAgentState("AgentReadySubmitReqEndingCall", StateEffect::ClearsInCall); }
void ScreenState::SetStateAgentReadySubmitReqInCall() { setAgentState("AgentReadySubmitReqInCall", StateEffect::None); }
void ScreenState::SetStateAgentReadySubmitReqInConference() { setAgentState("AgentReadySubmitReqInConference", StateEffect::None); }
void ScreenState::SetStateAgentReadySubmitReqInitiatingConference() { setAgentState("AgentReadySubmitReqInitiatingConference", StateEffect::None); }
void ScreenState::SetStateAgentReadySubmitReqInitiatingConferenceInProgress() { setAgentState("AgentReadySubmitReqInitiatingConferenceInProgress", StateEffect::None); }
void ScreenState::SetStateAgentReadySubmitReqTransfering() { setAgentState("AgentReadySubmitReqTransfering", StateEffect::None); }
void ScreenState::SetStateAgentReadyTransfering() { setAgentState("AgentReadyTransfering", StateEffect::None); }
void ScreenState::SetSubmitRequiredStateButton() { setSubmitRequiredStateButtons(); }
void ScreenState::SetTitleInCall() { setTitle(Title::InCall); }
void ScreenState::SetTitleInCallSubmitReq() { setTitle(Title::InCallSubmitReq); }
void ScreenState::SetTitleLoggedOut() { setTitle(Title::LoggedOut); }
void ScreenState::SetTitleNotReady() { setTitle(Title::NotReady); }
void ScreenState::SetTitleNotReadySubmitReq() { setTitle(Title::NotReadySubmitReq); }
void ScreenState::SetTitlePreviewDialing() { setTitle(Title::PreviewDialing); }
void ScreenState::SetTitlePreviewDialingSubmitReq() { setTitle(Title::PreviewDialingSubmitReq); }
void ScreenState::SetTitleReady() { setTitle(Title::Ready); }
void ScreenState::ShowLine1SelectedConference() { setLineSelectedMark(1, true, "CImplementation::Show Line 1 selected for conference"); }
void ScreenState::ShowLine2SelectedConference() { setLineSelectedMark(2, true, "CImplementation::Show Line 2 selected for conference"); }
void ScreenState::ShowLogin() { show(Control::Login, "CImplementation::ShowLogin()"); }
void ScreenState::ShowLogout() { show(Control::Logout, "CImplementation::ShowLogout()"); }
void ScreenState::ShowNotReady() { show(Control::NotReady, "CImplementation::ShowNotReady()"); }
void ScreenState::ShowNotReadyReason() { show(Control::NotReadyReason, "CImplementation::ShowNotReadyReason()"); }
void ScreenState::ShowReady() { show(Control::Ready, "CImplementation::ShowReady()"); }
void ScreenState::ShowUnHold() { show(Control::Unhold, "CImplementation::ShowUnHold()"); }
// clang-format on
