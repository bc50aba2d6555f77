#pragma once

#include <map>
#include <mutex>
#include <string>

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
    std::string titlePrefix() const override;
    void setStatusText(const std::string& text) override;
    void setCaption(const std::string& caption) override;
    void hideAttachedDataWindow() override;

    // What a test or a headless run reads and does in the agent's place.
    ControlState control(Control control) const;
    std::string statusText() const;
    std::string caption() const;
    void setWindowClosing(bool closing);
    void openCompleteConferenceWindow();
    void closeCompleteConferenceWindow();
    void openDialPad();
    void closeDialPad();
    void setAttachedDataWindowOpen(bool open);
    bool attachedDataWindowOpen() const;
    // One line: the caption and the main window's visible buttons, disabled ones in brackets.
    std::string describe() const;

private:
    void setExists(std::initializer_list<Control> controls, bool exists);

    mutable std::mutex lock_;
    std::map<Control, ControlState> controls_;
    const std::string titlePrefix_;
    std::string statusText_;
    std::string caption_;
    bool windowClosing_ = false;
    bool attachedDataWindowOpen_ = false;
};
