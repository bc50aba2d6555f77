#pragma once

#include "core/AgentWindow.h"

class AgentActions;
class AgentStatus;

// What the agent sees: the rules by which the state machine's actions enable, disable,
// show and hide controls, set the status line and caption, record the agent-state name,
// and apply whole button sets.
class ScreenState {
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

private:
    void disableButton(Control button);
    bool mayEnable(Control button);
    void showButton(Control button, bool visible);

    AgentWindow& window_;
    AgentStatus& status_;
    AgentActions& actions_;
};
