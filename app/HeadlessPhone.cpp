#include "app/HeadlessPhone.h"

#include <csignal>
#include <ctime>
#include <iostream>
#include <string>

#include <QEventLoop>
#include <QTimer>

#include "AgentVocabulary.h"
#include "core/AgentTables.h"
#include "agent/CImplementation.h"
#include "core/EventQueue.h"
#include "agent/HeadlessAgentWindow.h"
#include "infra/CAutoUpdater.h"
#include "infra/CLogger.h"
#include "infra/FileVersion.h"
#include "infra/InstanceGuard.h"
#include "ui/ScreenPopWindow.h"

namespace {

void print(const std::string& line) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::cout << stamp << "  " << line << std::endl;
}

// Runs the GUI thread's events for `milliseconds`, then tells whether SIGINT or SIGTERM (blocked
// in every thread) came meanwhile.
bool stopRequested(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    const timespec now{0, 0};
    return sigtimedwait(&stopSignals, nullptr, &now) > 0;
}

// Start-up's self-update step: the program replaces itself and restarts when the update server
// publishes another build; the path comes back with its slashes and is stored that way.
void checkForUpdate(CImplementation& core) {
    core.loginSettings().loadAutoUpdateSettings();
    const AutoUpdateSettings update = core.loginSettings().autoUpdate();
    if (!update.enabled) {
        logMessage(LogLevel::Normal, "Auto Update of Orvane disabled, continuing the execution");
        return;
    }
    std::string path = update.path;
    runStartupUpdateCheck(update.host, update.port, path);
    if (path != update.path) core.loginSettings().storeAutoUpdatePath(path);
}

class ViewPrinter {
public:
    ViewPrinter(CImplementation& core, HeadlessAgentWindow& window) : core_(core), window_(window) {}

    void printChanges() {
        const int machineState = core_.stateMachine().state();
        const std::string view = window_.describe();
        const std::string agentState = core_.status().agentState();
        if (machineState == shownState_ && view == shownView_ && agentState == shownAgentState_) return;
        shownState_ = machineState;
        shownView_ = view;
        shownAgentState_ = agentState;
        print(std::string(machineState >= 0 ? agent::StateNames[machineState] : "Starting") + " (" + agentState +
              ")  " + view);
    }

private:
    CImplementation& core_;
    HeadlessAgentWindow& window_;
    int shownState_ = -2;
    std::string shownView_;
    std::string shownAgentState_;
};

}  // namespace

int runHeadlessPhone(VoiceEngine& voice, ScreenPopWindow& screenPop, HeadlessOptions options) {
    logMessage(LogLevel::Debug, "Verifying if Orvane is already running");
    InstanceGuard guard;
    switch (guard.acquire()) {
    case InstanceGuard::Result::AlreadyRunning:
        logMessage(LogLevel::Normal, "Orvane already running, exiting");
        print("Orvane is already running for this user.");
        return 0;
    case InstanceGuard::Result::FirstInstance:
        logMessage(LogLevel::Normal, "First instance of Orvane, continuing execution.");
        break;
    case InstanceGuard::Result::Unavailable:
        break;
    }

    HeadlessAgentWindow window("Orvane");
    QObject::connect(&screenPop, &ScreenPopWindow::pageShown,
                     [](const QString& url) { print("Screen pop shown: " + url.toStdString()); });
    {
        CImplementation core({window, EventQueue::instance(), voice, screenPop, options.clientPort});
        logMessage(LogLevel::Normal, "Current Orvane Version : %s", readFileVersion(runningProgramPath()).c_str());
        checkForUpdate(core);
        ViewPrinter printer(core, window);
        core.initialize();
        while (core.stateMachine().state() != agent::AgentLoggedOut && !stopRequested(20)) printer.printChanges();
        printer.printChanges();

        LoginEntries login = options.login;
        if (login.agentId.empty()) login.agentId = core.call().agentId.get();
        if (login.host.empty()) login.host = core.storedSettings().ctiHost.get();
        if (login.port.empty()) login.port = std::to_string(core.storedSettings().ctiPort.load());
        if (!login.confirm(core.storedSettings(), core.call())) {
            print("The agent ID or password is not valid: 3 to 18 characters, none of \"|^~][ \".");
        } else {
            print("Logging in agent " + login.agentId + " at " + login.host + ":" + login.port);
            core.doAgentLogin();
        }
        while (!stopRequested(50)) printer.printChanges();

        print("Closing...");
        core.doWaitforCleanClose();
        while (!window.closed()) {
            stopRequested(50);
            printer.printChanges();
        }
        printer.printChanges();
    }
    print("Closed.");
    return 0;
}
