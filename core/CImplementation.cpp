#include "core/CImplementation.h"

#include "AgentVocabulary.h"
#include "core/AgentWindow.h"
#include "infra/CLogger.h"

CImplementation::CImplementation(AgentWindow& window, EventQueue& queue)
    : queue_(queue), fsm_(queue), screen_(window, status_, *this) {}

CImplementation::~CImplementation() {
    logMessage(LogLevel::Debug, "Entering the destructor... ~CImplementation");
    // The dispatcher runs events against this object: it must end first.
    isClosing_ = true;
    queue_.join();
}

void CImplementation::initialize() {
    logMessage(LogLevel::Debug, "CImplementation::initialize(): Start.");
    queue_.start(*this);
    queue_.QueuePhoneEvent(agent::OkEvent);
    logMessage(LogLevel::Debug, "CImplementation::initialize(): End.");
}

void CImplementation::logEntry(const char* line) { logMessage(LogLevel::Debug, "%s", line); }

// clang-format off
void CImplementation::CloseConferenceWindow() { logEntry("CloseConferenceWindow()"); }
void CImplementation::CloseConnection() { logEntry("CImplementation::CloseConnection()"); }
void CImplementation::CloseDialWindow() { logEntry("CloseDialWindow()"); }
void CImplementation::DisableCompleteConference() { screen_.setDialogControlEnabled(Control::CompleteConference, false, "CImplementation::DisableCompleteConference()"); }
void CImplementation::DisableConference() { screen_.disable(Control::Conference, "CImplementation::DisableConference()"); }
void CImplementation::DisableDial() { screen_.disable(Control::Dial, "CImplementation::DisableDial()"); }
void CImplementation::DisableHangUp() { screen_.disable(Control::HangUp, "CImplementation::DisableHangUp()"); }
void CImplementation::DisableHold() { screen_.disable(Control::Hold, "CImplementation::DisableHold()"); }
void CImplementation::DisableLine1Conference() { screen_.setDialogControlEnabled(Control::ConferenceLine1, false, "CImplementation::Disable Line 1 in complete conference()"); }
void CImplementation::DisableLine2Conference() { screen_.setDialogControlEnabled(Control::ConferenceLine2, false, "CImplementation::Disable Line 2 in complete conference()"); }
void CImplementation::DisableLogin() { screen_.disable(Control::Login, "CImplementation::DisableLogin()"); }
void CImplementation::DisableLogout() { screen_.disable(Control::Logout, "CImplementation::DisableLogout()"); }
void CImplementation::DisableMessageCenter() { logEntry("CImplementation::DisableMessageCenter()"); }
void CImplementation::DisableNotReady() { screen_.disable(Control::NotReady, "CImplementation::DisableNotReady()"); }
void CImplementation::DisableNotReadyReason() { screen_.disable(Control::NotReadyReason, "CImplementation::DisableNotReadyReason()"); }
void CImplementation::DisableOkDial() { screen_.disableOkDial(); }
void CImplementation::DisableReady() { screen_.disable(Control::Ready, "CImplementation::DisableReady()"); }
void CImplementation::DisableTransfer() { screen_.disable(Control::Transfer, "CImplementation::DisableTransfer()"); }
void CImplementation::DisableUnHold() { screen_.disable(Control::Unhold, "CImplementation::DisableUnHold()"); }
void CImplementation::DoAgentReadyThread() { logEntry("CImplementation::DoAgentReadyThread()"); }
void CImplementation::EnableCompleteConference() { screen_.setDialogControlEnabled(Control::CompleteConference, true, "CImplementation::EnableCompleteConference()"); }
void CImplementation::EnableConference() { screen_.enableConference(); }
void CImplementation::EnableDial() { screen_.enableDial(); }
void CImplementation::EnableHangUp() { screen_.enable(Control::HangUp, "CImplementation::EnableHangUp()"); }
void CImplementation::EnableHold() { screen_.enable(Control::Hold, "CImplementation::EnableHold()"); }
void CImplementation::EnableLine1Conference() { screen_.setDialogControlEnabled(Control::ConferenceLine1, true, "CImplementation::Enable Line 1 in complete conference()"); }
void CImplementation::EnableLine2Conference() { screen_.setDialogControlEnabled(Control::ConferenceLine2, true, "CImplementation::Enable Line 2 in complete conference()"); }
void CImplementation::EnableLogin() { screen_.enable(Control::Login, "CImplementation::EnableLogin()"); }
void CImplementation::EnableLogout() { screen_.enable(Control::Logout, "CImplementation::EnableLogout()"); }
void CImplementation::EnableMessageCenter() { logEntry("CImplementation::EnableMessageCenter()"); }
void CImplementation::EnableNotReady() { screen_.enable(Control::NotReady, "CImplementation::EnableNotReady()"); }
void CImplementation::EnableNotReadyReason() { screen_.enable(Control::NotReadyReason, "CImplementation::EnableNotReadyReason()"); }
void CImplementation::EnableReady() { screen_.enable(Control::Ready, "CImplementation::EnableReady()"); }
void CImplementation::EnableTransfer() { screen_.enableTransfer(); }
void CImplementation::EnableUnHold() { screen_.enable(Control::Unhold, "CImplementation::EnableUnHold()"); }
void CImplementation::GetCtiTime() { logEntry("CImplementation::GetCtiTime()"); }
void CImplementation::HangUpCalls() { logEntry("CImplementation::HangUpCalls()"); }
void CImplementation::HangUpLine1() { logEntry("CImplementation::HangUpLine1()"); }
void CImplementation::doHangUpMadeCall() { logEntry("doHangUpMadeCall()"); }
void CImplementation::doHangUpPrevCall() { logEntry("doHangUpPrevCall() second_line"); }
void CImplementation::HangUpLine2() { logEntry("CImplementation::HangUpLine2()"); }
void CImplementation::HideAttachedDataButton() { screen_.hideAttachedDataButton(); }
void CImplementation::HideHold() { screen_.hide(Control::Hold, "CImplementation::HideHold()"); }
void CImplementation::HideLine1SelectedConference() { screen_.setLineSelectedMark(1, false, "CImplementation::Hide Line 1 selected for conference"); }
void CImplementation::HideLine2SelectedConference() { screen_.setLineSelectedMark(2, false, "CImplementation::Hide Line 2 selected for conference"); }
void CImplementation::HideLogin() { screen_.hide(Control::Login, "CImplementation::HideLogin()"); }
void CImplementation::HideLogout() { screen_.hide(Control::Logout, "CImplementation::HideLogout()"); }
void CImplementation::HideNotReady() { screen_.hide(Control::NotReady, "CImplementation::HideNotReady()"); }
void CImplementation::HideReady() { screen_.hide(Control::Ready, "CImplementation::HideReady()"); }
void CImplementation::LeaveConference() { logEntry("doLeaveConferenceThread()"); }
void CImplementation::OpenDial() { logEntry("CImplementation::OpenDial()"); }
void CImplementation::RemoveHold() { logEntry("CImplementation::RemoveHold()"); }
void CImplementation::SelectFirstLine() { logEntry("CImplementation::SelectFirstLine()"); }
void CImplementation::SelectSecondLine() { logEntry("CImplementation::SelectSecondLine()"); }
void CImplementation::SendAgentCancelDialingToCti() { logEntry("CImplementation::SendAgentCancelDialingToCti()"); }
void CImplementation::SendAgentDialingToCti() { logEntry("CImplementation::SendAgentDialingToCti()"); }
void CImplementation::SendAgentInCallToCti() { logEntry("CImplementation::SendAgentInCallToCti()"); }
void CImplementation::SendCallAnsweredToCti() { logEntry("CImplementation::SendCallAnsweredToCti()"); }
void CImplementation::SendCallNoAnswerToCti() { logEntry("CImplementation::SendCallNoAnswerToCti()"); }
void CImplementation::SendCalltoQms() { logEntry("CImplementation::SendCalltoQms()"); }
void CImplementation::SendCancelPreviewToCti() { logEntry("CImplementation::SendCancelPreviewToCti()"); }
void CImplementation::SendNotReadyAfterWrapUpToCti() { logEntry("CImplementation::SendNotReadyAfterWrapUpToCti()"); }
void CImplementation::SendNotReadyReasonSetToCti() { logEntry("CImplementation::SendNotReadyReasonSetToCti()"); }
void CImplementation::SendNotReadyToCti() { logEntry("CImplementation::SendNotReadyToCti()"); }
void CImplementation::SendReadyToCti() { logEntry("CImplementation::SendReadyToCti()"); }
void CImplementation::SendTerminateCallToCti() { logEntry("CImplementation::SendTerminateCallToCti()"); }
void CImplementation::SetCallState() { logEntry("Set Call State"); }
void CImplementation::SetCallerId() { logEntry("CImplementation::SetCallerId()"); }
void CImplementation::SetInCallDistribute() { logEntry("CImplementation::SetInCallDistribute()"); }
void CImplementation::SetInCallOutbound() { logEntry("CImplementation::SetInCallOutbound()"); }
void CImplementation::SetInCallReadyOutbound() { logEntry("CImplementation::SetInCallReadyOutbound()"); }
void CImplementation::SetInCallStateButton() { screen_.setInCallStateButtons(); }
void CImplementation::SetInWrapUp() { logEntry("CImplementation::SetInWrapUp()"); }
void CImplementation::SetInitialStateButton() { screen_.setInitialStateButtons(); }
void CImplementation::SetNotReadyStateButton() { screen_.setNotReadyStateButtons(); }
void CImplementation::SetNotReadySubmitReqStateButton() { screen_.setNotReadySubmitReqStateButtons(); }
void CImplementation::SetStateAgentGoingNotReady() { screen_.setAgentState("AgentGoingNotReady", ScreenState::StateEffect::ClearsInCall); }
void CImplementation::SetStateAgentGoingReady() { screen_.setAgentState("AgentGoingReady", ScreenState::StateEffect::ClearsInCall); }
void CImplementation::SetStateAgentGoingReadyInProgress() { screen_.setAgentState("AgentGoingReadyInProgress", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentLoggedIn() { screen_.setAgentState("AgentLoggedIn", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentLoggedInWhithNotReady() { screen_.setAgentState("AgentLoggedInWhithNotReadyState", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentLoggedOut() { screen_.setAgentState("AgentLoggedOut", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentLoggingOut() { screen_.setAgentState("AgentLoggingOut", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentNotReady() { screen_.setAgentState("AgentNotReady", ScreenState::StateEffect::NotReady); }
void CImplementation::SetStateAgentNotReadyCancellingConference() { screen_.setAgentState("AgentNotReadyCancellingConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentNotReadyCompletingConference() { screen_.setAgentState("AgentNotReadyCompletingConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentNotReadyInCall() { screen_.setAgentState("AgentNotReadyInCall", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentNotReadyInConference() { screen_.setAgentState("AgentNotReadyInConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentNotReadyInitiatingConference() { screen_.setAgentState("gentNotReadyInitiatingConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentNotReadySubmitReq() { screen_.setAgentState("AgentNotReadySubmitReq", ScreenState::StateEffect::ClearsInCall); }
void CImplementation::SetStateAgentNotReadyTransfering() { screen_.setAgentState("AgentNotReadyTransfering", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReady() { screen_.setAgentState("AgentReady", ScreenState::StateEffect::Ready); }
void CImplementation::SetStateAgentReadyCancellingConference() { screen_.setAgentState("AgentReadyCancellingConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadyCompletingConference() { screen_.setAgentState("AgentReadyCompletingConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadyInCall() { screen_.setAgentState("AgentReadyInCall", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadyInCallReceivedTerminateCall() { screen_.setAgentState("AgentReadyInCallReceivedTerminateCall", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadyInConference() { screen_.setAgentState("AgentReadyInConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadyInitiatingConference() { screen_.setAgentState("AgentReadyInitiatingConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadyInitiatingConferenceInProgress() { screen_.setAgentState("AgentReadyInitiatingConferenceInProgress", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadyLoggingOut() { screen_.setAgentState("AgentReadyLoggingOut", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadySubmitReqCancellingConference() { screen_.setAgentState("AgentReadySubmitReqCancellingConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadySubmitReqCompletingConference() { screen_.setAgentState("AgentReadySubmitReqCompletingConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadySubmitReqEndingCall() { screen_.setAgentState("AgentReadySubmitReqEndingCall", ScreenState::StateEffect::ClearsInCall); }
void CImplementation::SetStateAgentReadySubmitReqInCall() { screen_.setAgentState("AgentReadySubmitReqInCall", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadySubmitReqInConference() { screen_.setAgentState("AgentReadySubmitReqInConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadySubmitReqInitiatingConference() { screen_.setAgentState("AgentReadySubmitReqInitiatingConference", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadySubmitReqInitiatingConferenceInProgress() { screen_.setAgentState("AgentReadySubmitReqInitiatingConferenceInProgress", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadySubmitReqTransfering() { screen_.setAgentState("AgentReadySubmitReqTransfering", ScreenState::StateEffect::None); }
void CImplementation::SetStateAgentReadyTransfering() { screen_.setAgentState("AgentReadyTransfering", ScreenState::StateEffect::None); }
void CImplementation::SetSubmitRequiredStateButton() { screen_.setSubmitRequiredStateButtons(); }
void CImplementation::SetTitleInCall() { screen_.setTitle(ScreenState::Title::InCall); }
void CImplementation::SetTitleInCallSubmitReq() { screen_.setTitle(ScreenState::Title::InCallSubmitReq); }
void CImplementation::SetTitleLoggedOut() { screen_.setTitle(ScreenState::Title::LoggedOut); }
void CImplementation::SetTitleNotReady() { screen_.setTitle(ScreenState::Title::NotReady); }
void CImplementation::SetTitleNotReadySubmitReq() { screen_.setTitle(ScreenState::Title::NotReadySubmitReq); }
void CImplementation::SetTitlePreviewDialing() { screen_.setTitle(ScreenState::Title::PreviewDialing); }
void CImplementation::SetTitlePreviewDialingSubmitReq() { screen_.setTitle(ScreenState::Title::PreviewDialingSubmitReq); }
void CImplementation::SetTitleReady() { screen_.setTitle(ScreenState::Title::Ready); }
void CImplementation::SetUseOnlytt() { logEntry("CImplementation::SetUseOnlytt()"); }
void CImplementation::SetUsing3lines() { logEntry("Orvane is in 3 lines mode"); }
void CImplementation::ShowLine1SelectedConference() { screen_.setLineSelectedMark(1, true, "CImplementation::Show Line 1 selected for conference"); }
void CImplementation::ShowLine2SelectedConference() { screen_.setLineSelectedMark(2, true, "CImplementation::Show Line 2 selected for conference"); }
void CImplementation::ShowLogin() { screen_.show(Control::Login, "CImplementation::ShowLogin()"); }
void CImplementation::ShowLogout() { screen_.show(Control::Logout, "CImplementation::ShowLogout()"); }
void CImplementation::ShowNotReady() { screen_.show(Control::NotReady, "CImplementation::ShowNotReady()"); }
void CImplementation::ShowNotReadyReason() { screen_.show(Control::NotReadyReason, "CImplementation::ShowNotReadyReason()"); }
void CImplementation::ShowReady() { screen_.show(Control::Ready, "CImplementation::ShowReady()"); }
void CImplementation::ShowUnHold() { screen_.show(Control::Unhold, "CImplementation::ShowUnHold()"); }
void CImplementation::StartListeningForClient() { logEntry("StartListeningForClient"); }
void CImplementation::StartRecording() { logEntry("CImplementation::StartRecording()"); }
void CImplementation::StartRinging() { logEntry("In StartRinging()"); }
void CImplementation::StopListeningForClient() { logEntry("StopListeningForClient"); }
void CImplementation::StopRecording() { logEntry("CImplementation::StopRecording()"); }
void CImplementation::StopRinging() { logEntry("In StopRinging()"); }
void CImplementation::UnregisterChannels() { logEntry("CImplementation::UnregisterChannels()"); }
void CImplementation::UnsetUseOnlytt() { logEntry("CImplementation::UnsetUseOnlytt()"); }
// clang-format on
