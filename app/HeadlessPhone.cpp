#include "app/HeadlessPhone.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <QEventLoop>
#include <QSocketNotifier>

#include "AgentVocabulary.h"
#include "agent/AgentButtons.h"
#include "agent/CImplementation.h"
#include "agent/HeadlessAgentWindow.h"
#include "app/CommandLine.h"
#include "app/HeadlessCommands.h"
#include "app/StartUp.h"
#include "app/StopSignals.h"
#include "core/AgentTables.h"
#include "core/EventQueue.h"
#include "infra/InstanceGuard.h"
#include "infra/Timing.h"
#include "ui/ScreenPopWindow.h"

namespace {

// Why the phone cannot do its job, as the agent is told on the ticker; empty while nothing is wrong.
std::string failureShown(const std::string& ticker) {
    if (ticker == "VelmoraCCS unavailable, try again later") return "the CTI server cannot be reached: " + ticker;
    if (ticker.rfind("Registration rejected from VelmoraCCS", 0) == 0 || ticker == "Unknown Error")
        return "the CTI server refused the login: " + ticker;
    return {};
}

// One line whenever the machine's state, the agent's state or what the window shows changes.
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
        printStamped(std::string(machineState >= 0 ? agent::StateNames[machineState] : "Starting") + " (" + agentState +
              ")  " + view);
    }

private:
    CImplementation& core_;
    HeadlessAgentWindow& window_;
    int shownState_ = -2;
    std::string shownView_;
    std::string shownAgentState_;
};

// Lines typed on standard input, read as they come.
class InputLines {
public:
    bool open() const { return open_; }
    int fd() const { return open_ ? STDIN_FILENO : -1; }

    // What can be read now, as whole lines (a last line without its end once the input ends).
    std::vector<std::string> read() {
        std::vector<std::string> lines;
        char chunk[512];
        const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) return lines;
        if (count <= 0) {
            open_ = false;
            if (!pending_.empty()) lines.push_back(std::move(pending_));
            return lines;
        }
        pending_.append(chunk, static_cast<std::size_t>(count));
        for (std::size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1)) {
            std::string line = pending_.substr(0, end);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(std::move(line));
        }
        return lines;
    }

private:
    bool open_ = true;
    std::string pending_;
};

struct Woken {
    bool stop = false;
    bool changed = false;
    bool input = false;
};

// Waits for a stop signal, a change the agent could see or (when `input` is given) a command.
// The GUI thread's events (the screen pop's window) are served meanwhile.
Woken waitForSomething(StopSignals& stopSignals, Wakeup& wake, const InputLines* input) {
    pollfd watched[] = {{stopSignals.fd(), POLLIN, 0}, {wake.fd(), POLLIN, 0}, {input ? input->fd() : -1, POLLIN, 0}};
    if (::poll(watched, 3, 0) == 0) {
        QEventLoop loop;
        QSocketNotifier stop(stopSignals.fd(), QSocketNotifier::Read);
        QSocketNotifier changed(wake.fd(), QSocketNotifier::Read);
        std::optional<QSocketNotifier> typed;
        if (input && input->fd() >= 0) typed.emplace(input->fd(), QSocketNotifier::Read);
        for (QSocketNotifier* notifier : {&stop, &changed, typed ? &*typed : nullptr})
            if (notifier) QObject::connect(notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        loop.exec();
    }
    Woken woken;
    if (::poll(watched, 3, 0) < 0) return woken;
    woken.stop = (watched[0].revents & POLLIN) && stopSignals.take();
    if (watched[1].revents & POLLIN) {
        wake.take();
        woken.changed = true;
    }
    woken.input = watched[2].revents != 0;
    return woken;
}

// After a change, waits for the burst it belongs to (one event's actions) to end, so the view
// prints the settled state once; a steady stream of changes still prints now and then.
void settle(Wakeup& wake) {
    constexpr int kLongestBurst = 25;
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(Timing::scaled(intervals::kViewSettle));
    for (int round = 0; round < kLongestBurst; ++round) {
        pollfd watched{wake.fd(), POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(std::max<long long>(1, quiet.count()))) <= 0) return;
        wake.take();
    }
}

}  // namespace

int runHeadlessPhone(VoiceEngine& voice, ScreenPopWindow& screenPop, const ProgramOptions& options,
                     StopSignals& stopSignals) {
    InstanceGuard guard;
    if (!startUp(guard, printStamped)) return 1;

    Wakeup wake;
    InputLines input;
    HeadlessAgentWindow window("Orvane");
    window.setChangeListener([&wake] { wake.notify(); });
    QObject::connect(&screenPop, &ScreenPopWindow::pageShown,
                     [](const QString& url) { printStamped("Screen pop shown: " + url.toStdString()); });
    int status = 0;
    {
        CImplementation core({window, EventQueue::instance(), voice, screenPop, options.clientPort});
        core.setAfterEvent([&wake] { wake.notify(); });
        AgentButtons buttons(core.buttonServices(), window);
        ViewPrinter printer(core, window);
        HeadlessCommands commands(core, buttons, window, printStamped);
        core.initialize();

        bool stop = false;
        while (!stop && core.stateMachine().state() != agent::AgentLoggedOut) {
            stop = waitForSomething(stopSignals, wake, nullptr).stop;
            settle(wake);
            printer.printChanges();
        }
        const LoginEntries login = completedLogin(options.login, core);
        if (!stop && !buttons.OnBnClickedButtonLogin(login)) {
            printStamped("orvane: cannot log in: the agent ID (3 to 18 characters) or the password (at most 18) is not "
                  "valid, or holds one of |^~][ or a blank");
            status = 1;
            stop = true;
        } else if (!stop) {
            printStamped("Logging in agent " + login.agentId + " at " + login.host + ":" + login.port +
                  " (commands on standard input: type help)");
        }
        while (!stop) {
            const Woken woken = waitForSomething(stopSignals, wake, &input);
            stop = woken.stop;
            if (woken.input)
                for (const std::string& line : input.read()) stop = stop || !commands.run(line);
            if (!woken.changed) continue;
            settle(wake);
            printer.printChanges();
            commands.windowChanged();
            const std::string failure = failureShown(window.ticker().text);
            if (!failure.empty()) {
                printStamped("orvane: cannot work: " + failure);
                status = 1;
                stop = true;
            }
        }

        printStamped("Closing...");
        core.doWaitforCleanClose();
        while (!window.closed()) {
            waitForSomething(stopSignals, wake, nullptr);
            settle(wake);
            printer.printChanges();
        }
        printer.printChanges();
        window.closeDialWindow();  // a dial window no state closed must not hold its thread
        window.closeCompleteConferenceWindow();
        commands.finish();
    }
    printStamped("Closed.");
    return status;
}
