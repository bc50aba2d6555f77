#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/AgentWindow.h"

// The agent's window without a screen: keeps the state of every control of the main
// window, the complete-conference window and the dial pad, the status line and the caption,
// so tests and headless runs see exactly what the agent would see.
class HeadlessAgentWindow : public AgentWindow {
public:
    struct ControlState {
        bool exists = false;
        bool enabled = false;
        bool visible = false;
        bool operator==(const ControlState&) const = default;
    };

    explicit HeadlessAgentWindow(std::string titlePrefix = {});

    bool controlExists(Control control) const override;
    void enableControl(Control control, bool enabled) override;
    void showControl(Control control, bool visible) override;
    bool windowClosing() const override;
    void setWindowClosing() override;
    std::string titlePrefix() const override;
    void setStatusText(const std::string& text) override;
    void setCaption(const std::string& caption) override;
    void disableAllButtons() override;
    void hideAttachedDataWindow() override;
    void refreshAttachedDataWindow() override;
    void showTicker(const TickerText& text) override;
    void showCallTimer(const std::string& text, std::uint32_t colour) override;
    void openDialPad() override;
    void openPreviewDial() override;
    void closeDialWindow() override;
    bool dialWindowOpen() const override;
    void closeCompleteConferenceWindow() override;
    using AgentWindow::runDialWindow;
    DialWindowResult runDialWindow(const std::string& title, const std::string& number) override;
    bool runCompleteConferenceDialog(ConferenceButtons& buttons, int consultationLine) override;
    void closeWindow() override;
    void setNotReadyReasons(const std::vector<std::string>& reasons) override;
    void showMessageBox(const std::string& text, const std::string& caption) override;

    // Called on the changing thread after anything the agent could see has changed (a control,
    // a text, a window opening or closing); set before the agent core starts.
    void setChangeListener(std::function<void()> listener);

    // What a test or a headless run reads and does in the agent's place.
    ControlState control(Control control) const;
    std::string statusText() const;
    std::string caption() const;
    void openCompleteConferenceWindow();
    void showDialPad();
    // The agent's answers to the modal windows, taken in order; a window waits for its answer.
    enum class ConferenceClick { Line1, Line2, Complete, Cancel };
    void answerDialWindow(const DialWindowResult& answer);
    void clickConferenceButton(ConferenceClick click);
    // The title of the dial window open now, or "" when none is, and the number it opened with.
    std::string openDialWindowTitle() const;
    std::string openDialWindowNumber() const;
    void setAttachedDataWindowOpen(bool open);
    bool attachedDataWindowOpen() const;
    int attachedDataRefreshes() const;
    TickerText ticker() const;
    std::string callTimer() const;
    int dialPadRequests() const;
    int previewDialRequests() const;
    bool closed() const;
    std::vector<std::string> notReadyReasons() const;
    // (text, caption) of every message box shown.
    std::vector<std::pair<std::string, std::string>> messageBoxes() const;
    // One line: the caption, the main window's visible buttons (disabled ones in brackets) and
    // the ticker text.
    std::string describe() const;

private:
    void setExists(std::initializer_list<Control> controls, bool exists);
    void changed() const;

    mutable std::mutex lock_;
    std::condition_variable answered_;
    std::deque<DialWindowResult> dialAnswers_;
    std::deque<ConferenceClick> conferenceClicks_;
    std::string dialWindowTitle_;
    std::string dialWindowNumber_;
    std::function<void()> listener_;
    bool dialWindowClosed_ = false;
    bool conferenceWindowClosed_ = false;
    std::map<Control, ControlState> controls_;
    const std::string titlePrefix_;
    std::string statusText_;
    std::string caption_;
    bool windowClosing_ = false;
    bool attachedDataWindowOpen_ = false;
    int attachedDataRefreshes_ = 0;
    TickerText ticker_;
    std::string callTimer_;
    int dialPadRequests_ = 0;
    int previewDialRequests_ = 0;
    bool closed_ = false;
    std::vector<std::string> notReadyReasons_;
    std::vector<std::pair<std::string, std::string>> messageBoxes_;
};
