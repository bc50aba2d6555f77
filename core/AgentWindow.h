#pragma once

#include <string>

// Controls the agent core addresses. Main-window controls carry their window ids; the
// others belong to the complete-conference window and the dial pad, and exist only while
// their window is open.
enum class Control : int {
    Login = 1000,
    Logout = 1001,
    Ready = 1002,
    NotReady = 1003,
    HangUp = 1005,
    Transfer = 1006,
    Conference = 1007,
    Hold = 1008,
    SecondConference = 1010,
    NotReadyReason = 1011,
    Dial = 1030,
    Close = 1057,
    StatusLine = 1060,
    AttachedData = 1064,
    Unhold = 1084,
    Ticker = 1086,
    StateTimer = 1087,

    CompleteConference = 2001,
    ConferenceLine1,
    ConferenceLine2,
    ConferenceLine1Selected,
    ConferenceLine1Unselected,
    ConferenceLine2Selected,
    ConferenceLine2Unselected,

    DialPadOk = 2101,
};

// Everything the agent core asks of the main window and its dialogs. Implementations must
// accept calls from any thread (the state machine's actions run on the dispatcher thread).
class AgentWindow {
public:
    virtual ~AgentWindow() = default;

    virtual bool controlExists(Control control) const = 0;
    virtual void enableControl(Control control, bool enabled) = 0;
    virtual void showControl(Control control, bool visible) = 0;

    // Set once the agent starts closing the window; no control is enabled after that.
    virtual bool windowClosing() const = 0;
    // The caption the window had when it was set up (at most 100 characters).
    virtual std::string titlePrefix() const = 0;
    virtual void setStatusText(const std::string& text) = 0;
    virtual void setCaption(const std::string& caption) = 0;

    // Hides the attached data window if it is open and marks it closed.
    virtual void hideAttachedDataWindow() = 0;
};
