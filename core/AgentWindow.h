#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// A text for the main window's one-line ticker: colours as 0xRRGGBB, the pixels moved per
// tick and the drawing mode (1 to 5).
struct TickerText {
    std::string text;
    std::uint32_t firstColour = 0;
    std::uint32_t secondColour = 0;
    int speed = 0;
    int mode = 1;
    // A failure that stopped the login: it stays until another text replaces it, so the message
    // centre's idle clearing leaves it for the agent to read.
    bool standing = false;
    // The message centre's clearing between rounds.
    bool idleClear = false;

    // The program's own status texts: red on black, moving 2 pixels per tick.
    static TickerText alert(std::string text) { return {std::move(text), 0xFF0000, 0x000000, 2, 1}; }
    // A failure that stopped the login, in the alert's colours.
    static TickerText loginFailure(std::string text) {
        TickerText failure = alert(std::move(text));
        failure.standing = true;
        return failure;
    }
    bool operator==(const TickerText&) const = default;
};

// What the dial window returns when the agent closes it.
struct DialWindowResult {
    bool confirmed = false;
    std::string number;
    int transferType = 0;  // 1 agent, 2 queue, anything else a phone number (0 in a conference)
};

// The buttons of the complete-conference dialog, as the agent clicks them.
class ConferenceButtons {
public:
    virtual void OnBnClickedLine1() = 0;
    virtual void OnBnClickedLine2() = 0;
    // Complete: the dialog ends with its OK result.
    virtual void OnBnClickedButtonCompleteConf() = 0;
    // Cancel or close: the dialog ends with its cancel result.
    virtual void OnBnClickedCancel() = 0;

protected:
    ~ConferenceButtons() = default;
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
    virtual void setWindowClosing() = 0;
    // The caption the window had when it was set up (at most 100 characters).
    virtual std::string titlePrefix() const = 0;
    virtual void setStatusText(const std::string& text) = 0;
    virtual void setCaption(const std::string& caption) = 0;

    // Disables every button of the main window (the voice engine could not start).
    virtual void disableAllButtons() = 0;

    // Hides the attached data window if it is open and marks it closed.
    virtual void hideAttachedDataWindow() = 0;
    // Shows the current call's attached data again (new data, or the call ended).
    virtual void refreshAttachedDataWindow() = 0;

    virtual void showTicker(const TickerText& text) = 0;
    // The call-duration clock's label, colour as 0xRRGGBB.
    virtual void showCallTimer(const std::string& text, std::uint32_t colour) = 0;
    // The CTI server allows a manual dial: open the dial pad.
    virtual void openDialPad() = 0;
    // A preview call was offered: open the preview dial window.
    virtual void openPreviewDial() = 0;
    // Closes the dial pad or preview dial window as cancelled, when one is open.
    virtual void closeDialWindow() = 0;
    virtual bool dialWindowOpen() const = 0;
    // Closes the complete-conference window as cancelled, when it is open.
    virtual void closeCompleteConferenceWindow() = 0;
    // Runs the dial window (modal) with `number` in its number field and returns the agent's
    // choice. Only the calling thread waits for it.
    virtual DialWindowResult runDialWindow(const std::string& title, const std::string& number) = 0;
    DialWindowResult runDialWindow(const std::string& title) { return runDialWindow(title, {}); }
    // Runs the complete-conference dialog (modal); true when it ended with Complete. The
    // buttons' work runs on the calling thread, which alone waits for the dialog. The
    // consultation line (engine call number) decides which line button starts enabled.
    virtual bool runCompleteConferenceDialog(ConferenceButtons& buttons, int consultationLine) = 0;
    // The not-ready reasons the agent may choose from; empty hides the reason button's menu.
    virtual void setNotReadyReasons(const std::vector<std::string>& reasons) = 0;
    // A modal message with only an OK button.
    virtual void showMessageBox(const std::string& text, const std::string& caption) = 0;
    // The clean close is over: the window ends.
    virtual void closeWindow() = 0;
};
