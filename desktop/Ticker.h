#pragma once

#include <mutex>
#include <string>

#include "core/AgentWindow.h"

// The main window's one-line ticker as every part of the program changes it: the call is
// setTickerText, from any thread. A text the ticker already holds changes nothing, so a
// scrolling text is not restarted by the same text again. A standing text outlasts the message
// centre's idle clearing.
class Ticker {
public:
    explicit Ticker(AgentWindow& window) : window_(window) {}

    void setTickerText(const TickerText& text);

private:
    AgentWindow& window_;
    std::mutex lock_;
    std::string shown_;  // the ticker starts empty
    bool standing_ = false;
    bool keptLogged_ = false;
};
