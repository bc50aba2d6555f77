#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "infra/SerialWorker.h"
#include "infra/ThreadGroup.h"

class AgentButtons;
class CImplementation;
class HeadlessAgentWindow;

// The agent's commands typed on the headless phone's standard input, carried out through the
// same buttons the window has: ready, notready [reason], hangup, hold, unhold, dial NUMBER,
// transfer NUMBER [agent|queue], cancel, logout, quit, help. The dial windows the phone opens
// are answered with the number a command gave.
class HeadlessCommands {
public:
    using Print = std::function<void(const std::string&)>;

    HeadlessCommands(CImplementation& core, AgentButtons& buttons, HeadlessAgentWindow& window, Print print);
    ~HeadlessCommands();

    // Carries out one line; false when it asks the phone to close.
    bool run(const std::string& line);
    // Something the agent sees changed: prints the message boxes shown, opens the dial windows
    // the phone asked for and answers those a command is waiting for. Called from the thread
    // that reads the commands.
    void windowChanged();
    // Waits for the clicks handed over so far (the phone closes after them).
    void finish();

    static const char* help();

private:
    void click(std::function<void()> work);
    void modal(std::function<void()> work);
    void dial(const std::string& number);
    void transfer(const std::string& number, const std::string& kind);
    void notReady(const std::string& reason);
    void cancel();

    CImplementation& core_;
    AgentButtons& buttons_;
    HeadlessAgentWindow& window_;
    Print print_;
    std::mutex lock_;
    std::string dialNumber_;       // for the dial pad the Dial button will open
    std::string transferNumber_;   // for the Transfer window
    int transferKind_ = 0;
    int dialPadsOpened_ = 0;
    int previewsOpened_ = 0;
    std::size_t boxesShown_ = 0;
    std::string shownDialWindow_;
    SerialWorker clicks_;
    ThreadGroup modalThreads_;
};
