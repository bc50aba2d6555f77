#pragma once

#include "AgentActions.h"
#include "core/AgentWindow.h"

class AgentStatus;

// What the agent sees: the rules by which the state machine's actions enable, disable,
// show and hide controls, set the status line and caption, record the agent-state name,
// and apply whole button sets. It serves the machine's screen actions itself.
class ScreenState : public ScreenActions {
public:
    enum class Title {
        LoggedOut,
        NotReady,
        Ready,
        InCall,
        InCallSubmitReq,
        NotReadySubmitReq,
        PreviewDialing,
        PreviewDialingSubmitReq,
    };
    // What recording an agent-state name does besides storing it.
    enum class StateEffect { None, ClearsInCall, NotReady, Ready };

    // `actions` runs the other actions that the button sets are made of.
    ScreenState(AgentWindow& window, AgentStatus& status, AgentActions& actions);

    // Main-window buttons; `operation` is the entry line logged first.
    void disable(Control button, const char* operation);
    void enable(Control button, const char* operation);
    void show(Control button, const char* operation);
    void hide(Control button, const char* operation);
    void enableDial();
    void enableTransfer();
    void enableConference();
    void hideAttachedDataButton();

    // Controls of the complete-conference window and the dial pad.
    void setDialogControlEnabled(Control control, bool enabled, const char* operation);
    void setLineSelectedMark(int line, bool selected, const char* operation);
    void disableOkDial();

    void setTitle(Title title);
    void setAgentState(const char* name, StateEffect effect);

    void setInitialStateButtons();
    void setNotReadyStateButtons();
    void setSubmitRequiredStateButtons();
    void setNotReadySubmitReqStateButtons();
    void setInCallStateButtons();

    // Actions of the state machine.
    void DisableCompleteConference() override;
    void DisableConference() override;
    void DisableDial() override;
    void DisableHangUp() override;
    void DisableHold() override;
    void DisableLine1Conference() override;
    void DisableLine2Conference() override;
    void DisableLogin() override;
    void DisableLogout() override;
    void DisableNotReady() override;
    void DisableNotReadyReason() override;
    void DisableOkDial() override;
    void DisableReady() override;
    void DisableTransfer() override;
    void DisableUnHold() override;
    void EnableCompleteConference() override;
    void EnableConference() override;
    void EnableDial() override;
    void EnableHangUp() override;
    void EnableHold() override;
    void EnableLine1Conference() override;
    void EnableLine2Conference() override;
    void EnableLogin() override;
    void EnableLogout() override;
    void EnableNotReady() override;
    void EnableNotReadyReason() override;
    void EnableReady() override;
    void EnableTransfer() override;
    void EnableUnHold() override;
    void HideAttachedDataButton() override;
    void HideHold() override;
    void HideLine1SelectedConference() override;
    void HideLine2SelectedConference() override;
    void HideLogin() override;
    void HideLogout() override;
    void HideNotReady() override;
    void HideReady() override;
    void SetInCallStateButton() override;
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
    void ShowLine1SelectedConference() override;
    void ShowLine2SelectedConference() override;
    void ShowLogin() override;
    void ShowLogout() override;
    void ShowNotReady() override;
    void ShowNotReadyReason() override;
    void ShowReady() override;
    void ShowUnHold() override;

private:
    void disableButton(Control button);
    bool mayEnable(Control button);
    void showButton(Control button, bool visible);

    AgentWindow& window_;
    AgentStatus& status_;
    AgentActions& actions_;
};
