#pragma once

#include <atomic>

#include "AgentActions.h"
#include "core/AgentStateMachine.h"
#include "core/AgentStatus.h"
#include "core/EventQueue.h"
#include "core/ScreenState.h"

class AgentWindow;

// The agent core: owns the state machine and the agent's state, and is the context the
// machine runs its actions against. Each action is one line that hands the work to the
// component that owns it.
class CImplementation : public AgentActions, public EventTarget {
public:
    CImplementation(AgentWindow& window, EventQueue& queue);
    ~CImplementation() override;
    CImplementation(const CImplementation&) = delete;
    CImplementation& operator=(const CImplementation&) = delete;

    // Starts the event queue and queues the first event.
    void initialize();

    void QueuePhoneEvent(int event) { queue_.QueuePhoneEvent(event); }
    void dispatchEvent(int event) override { fsm_.dispatchEvent(event, *this); }
    bool isClosing() const override { return isClosing_; }
    void setClosing() { isClosing_ = true; }

    AgentStatus& status() { return status_; }
    const AgentStateMachine& stateMachine() const { return fsm_; }

    // Actions of the state machine.
    void CloseConferenceWindow() override;
    void CloseConnection() override;
    void CloseDialWindow() override;
    void DisableCompleteConference() override;
    void DisableConference() override;
    void DisableDial() override;
    void DisableHangUp() override;
    void DisableHold() override;
    void DisableLine1Conference() override;
    void DisableLine2Conference() override;
    void DisableLogin() override;
    void DisableLogout() override;
    void DisableMessageCenter() override;
    void DisableNotReady() override;
    void DisableNotReadyReason() override;
    void DisableOkDial() override;
    void DisableReady() override;
    void DisableTransfer() override;
    void DisableUnHold() override;
    void DoAgentReadyThread() override;
    void EnableCompleteConference() override;
    void EnableConference() override;
    void EnableDial() override;
    void EnableHangUp() override;
    void EnableHold() override;
    void EnableLine1Conference() override;
    void EnableLine2Conference() override;
    void EnableLogin() override;
    void EnableLogout() override;
    void EnableMessageCenter() override;
    void EnableNotReady() override;
    void EnableNotReadyReason() override;
    void EnableReady() override;
    void EnableTransfer() override;
    void EnableUnHold() override;
    void GetCtiTime() override;
    void HangUpCalls() override;
    void HangUpLine1() override;
    void doHangUpMadeCall() override;
    void doHangUpPrevCall() override;
    void HangUpLine2() override;
    void HideAttachedDataButton() override;
    void HideHold() override;
    void HideLine1SelectedConference() override;
    void HideLine2SelectedConference() override;
    void HideLogin() override;
    void HideLogout() override;
    void HideNotReady() override;
    void HideReady() override;
    void LeaveConference() override;
    void OpenDial() override;
    void RemoveHold() override;
    void SelectFirstLine() override;
    void SelectSecondLine() override;
    void SendAgentCancelDialingToCti() override;
    void SendAgentDialingToCti() override;
    void SendAgentInCallToCti() override;
    void SendCallAnsweredToCti() override;
    void SendCallNoAnswerToCti() override;
    void SendCalltoQms() override;
    void SendCancelPreviewToCti() override;
    void SendNotReadyAfterWrapUpToCti() override;
    void SendNotReadyReasonSetToCti() override;
    void SendNotReadyToCti() override;
    void SendReadyToCti() override;
    void SendTerminateCallToCti() override;
    void SetCallState() override;
    void SetCallerId() override;
    void SetInCallDistribute() override;
    void SetInCallOutbound() override;
    void SetInCallReadyOutbound() override;
    void SetInCallStateButton() override;
    void SetInWrapUp() override;
    void SetInitialStateButton() override;
    void SetNotReadyStateButton() override;
    void SetNotReadySubmitReqStateButton() override;
    void SetStateAgentGoingNotReady() override;
    void SetStateAgentGoingReady() override;
    void SetStateAgentGoingReadyInProgress() override;
    void SetStateAgentLoggedIn() override;
    void SetStateAgentLoggedInWhithNotReady() override;
    void SetStateAgentLoggedOut() override;
    void SetStateAgentLoggingOut() override;
    void SetStateAgentNotReady() override;
    void SetStateAgentNotReadyCancellingConference() override;
    void SetStateAgentNotReadyCompletingConference() override;
    void SetStateAgentNotReadyInCall() override;
    void SetStateAgentNotReadyInConference() override;
    void SetStateAgentNotReadyInitiatingConference() override;
    void SetStateAgentNotReadySubmitReq() override;
    void SetStateAgentNotReadyTransfering() override;
    void SetStateAgentReady() override;
    void SetStateAgentReadyCancellingConference() override;
    void SetStateAgentReadyCompletingConference() override;
    void SetStateAgentReadyInCall() override;
    void SetStateAgentReadyInCallReceivedTerminateCall() override;
    void SetStateAgentReadyInConference() override;
    void SetStateAgentReadyInitiatingConference() override;
    void SetStateAgentReadyInitiatingConferenceInProgress() override;
    void SetStateAgentReadyLoggingOut() override;
    void SetStateAgentReadySubmitReqCancellingConference() override;
    void SetStateAgentReadySubmitReqCompletingConference() override;
    void SetStateAgentReadySubmitReqEndingCall() override;
    void SetStateAgentReadySubmitReqInCall() override;
    void SetStateAgentReadySubmitReqInConference() override;
    void SetStateAgentReadySubmitReqInitiatingConference() override;
    void SetStateAgentReadySubmitReqInitiatingConferenceInProgress() override;
    void SetStateAgentReadySubmitReqTransfering() override;
    void SetStateAgentReadyTransfering() override;
    void SetSubmitRequiredStateButton() override;
    void SetTitleInCall() override;
    void SetTitleInCallSubmitReq() override;
    void SetTitleLoggedOut() override;
    void SetTitleNotReady() override;
    void SetTitleNotReadySubmitReq() override;
    void SetTitlePreviewDialing() override;
    void SetTitlePreviewDialingSubmitReq() override;
    void SetTitleReady() override;
    void SetUseOnlytt() override;
    void SetUsing3lines() override;
    void ShowLine1SelectedConference() override;
    void ShowLine2SelectedConference() override;
    void ShowLogin() override;
    void ShowLogout() override;
    void ShowNotReady() override;
    void ShowNotReadyReason() override;
    void ShowReady() override;
    void ShowUnHold() override;
    void StartListeningForClient() override;
    void StartRecording() override;
    void StartRinging() override;
    void StopListeningForClient() override;
    void StopRecording() override;
    void StopRinging() override;
    void UnregisterChannels() override;
    void UnsetUseOnlytt() override;

private:
    // Entry line of an action whose work is not built yet.
    static void logEntry(const char* line);

    EventQueue& queue_;
    AgentStateMachine fsm_;
    AgentStatus status_;
    ScreenState screen_;
    std::atomic<bool> isClosing_{false};
};
