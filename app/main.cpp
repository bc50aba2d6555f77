// The orvane program: the agent's phone.
//   orvane --dump-transitions   print the agent state machine's transition table and exit
//   orvane --headless           run the agent core without a screen and print what the agent sees

#include <chrono>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "AgentVocabulary.h"
#include "core/CImplementation.h"
#include "core/EventQueue.h"
#include "core/HeadlessAgentWindow.h"
#include "core/TransitionDump.h"
#include "infra/CLogger.h"
#include "infra/Timing.h"

namespace {

int usage() {
    std::cerr << "usage: orvane --dump-transitions | --headless\n";
    return 2;
}

// Prints the agent's view whenever it changes, until the core reaches `target`.
void showUntil(CImplementation& core, HeadlessAgentWindow& window, int target) {
    std::string shown;
    for (;;) {
        const std::string view = core.status().agentState() + "  " + window.describe();
        if (view != shown) std::cout << view << std::endl, shown = view;
        if (core.stateMachine().state() == target) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int runHeadless() {
    Timing::setScaleFromEnvironment();
    CLogger::getInstance();
    {
        HeadlessAgentWindow window;
        CImplementation core(window, EventQueue::instance());
        core.initialize();
        showUntil(core, window, agent::AgentLoggedOut);
        std::cout << "Logged out. Logging in needs the CTI link, which is not built yet." << std::endl;
    }
    CLogger::destroyInstance();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--dump-transitions") == 0) {
        writeTransitions(std::cout);
        return std::cout ? 0 : 1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--headless") == 0) return runHeadless();
    return usage();
}
