// The agent's window as the agent feels it, on Qt's offscreen platform: the time from a state
// change on the dispatcher thread to the status line painted with it, the longest time the
// window's thread is kept from its event loop during a whole lab call, and the processor share
// of the idle windowed phone.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <semaphore>
#include <thread>
#include <chrono>
#include <vector>
#include <filesystem>

#include "AgentVocabulary.h"
#include "agent/CImplementation.h"
#include "core/EventQueue.h"
#include "support/FakeBrowserView.h"
#include "infra/CLogger.h"
#include "infra/SettingsStore.h"
#include "lab/cti/LabCtiServer.h"
#include "lab/switch/LabSwitch.h"
#include "support/FakeVoiceEngine.h"
#include "ui/COrvaneDlg.h"
#include "ui/CTicker.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/MediaEngine.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Runs the window's thread until `done` holds.
template <class Done>
void runUntil(Done done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// The moment the status line is painted showing `expected`.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QLabel& label) : label_(label) { label_.installEventFilter(this); }
    void expect(const QString& text) {
        expected_ = text;
        painted_.reset();
    }
    std::optional<Clock::time_point> painted() const { return painted_; }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && label_.text() == expected_) painted_ = Clock::now();
        return false;
    }

private:
    QLabel& label_;
    QString expected_;
    std::optional<Clock::time_point> painted_;
};

// The bar over the agent core, in a call: a state change that retitles the bar, from the
// dispatcher thread to the pixels, back and forth (submit required, submit sent).
void StateChangeToPainted(benchmark::State& state) {
    const auto folder = std::filesystem::temp_directory_path() / "orvane-ui-bench";
    SettingsStore::useFolder(folder.string());
    LabCtiServer cti{LabCtiOptions{}, [](const std::string&) {}};
    cti.start();
    EventQueue queue;
    FakeVoiceEngine voice;
    FakeBrowserView browser;
    COrvaneDlg bar([&](AgentWindow& window) {
        return std::make_unique<CImplementation>(CImplementation::Seams{window, queue, voice, browser, 0});
    });
    bar.show();
    bar.OnInitDialog();
    CImplementation& core = *bar.core();
    auto reach = [&](int wanted) { runUntil([&] { return core.stateMachine().state() == wanted; }); };
    reach(agent::AgentLoggedOut);
    bar.loginWith({"1001", "pw", "127.0.0.1", std::to_string(cti.port())});
    runUntil([&] { return voice.has("register 1001 pw 127.0.0.1:4569"); });
    voice.emitResult(VoiceEvent::RegistrationAccepted, "Registration accepted");
    reach(agent::AgentNotReady);
    core.doAgentReady();
    reach(agent::AgentGoingReadyInProgress);
    runUntil([&] { return voice.has("call_on_line 0 1001@127.0.0.1:4569/ZQ1001"); });
    voice.emitState(0, VoiceEvent::Active | VoiceEvent::Complete);
    reach(agent::AgentReady);
    cti.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
    reach(agent::AgentReadyInCall);
    QTest::qWait(200);

    PaintWatch watch(bar.statusLine());
    bool submit = true;
    std::vector<double> milliseconds;
    for (auto _ : state) {
        watch.expect(submit ? QStringLiteral("[In Call-Submit Required]") : QStringLiteral("[In Call]"));
        const auto start = Clock::now();
        core.QueuePhoneEvent(submit ? agent::SubmitReqEvent : agent::SubmitSentEvent);
        runUntil([&] { return watch.painted().has_value(); });
        const auto taken = std::chrono::duration<double>(*watch.painted() - start);
        state.SetIterationTime(taken.count());
        milliseconds.push_back(taken.count() * 1000);
        submit = !submit;
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    state.counters["median_ms"] = milliseconds[milliseconds.size() / 2];
    state.counters["p95_ms"] = milliseconds[milliseconds.size() * 95 / 100];
    state.counters["max_ms"] = milliseconds.back();
    bar.requestCleanClose();
    runUntil([&] { return !bar.isVisible(); });
}
BENCHMARK(StateChangeToPainted)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

// The window's own part of the above: a call of the window from a worker thread (as an action
// on the dispatcher makes it) until the status line is painted with it.
void WindowCallToPainted(benchmark::State& state) {
    COrvaneDlg bar([](AgentWindow&) { return std::unique_ptr<CImplementation>(); });
    bar.show();
    QTest::qWait(100);
    PaintWatch watch(bar.statusLine());
    std::counting_semaphore<> go(0);
    std::atomic<bool> running{true};
    std::string text;
    Clock::time_point called;
    std::thread dispatcher([&] {
        for (;;) {
            go.acquire();
            if (!running) return;
            called = Clock::now();
            bar.setStatusText(text);
        }
    });
    int round = 0;
    for (auto _ : state) {
        text = "[Not Ready : " + std::to_string(++round) + "]";
        watch.expect(QString::fromStdString(text));
        go.release();
        runUntil([&] { return watch.painted().has_value(); });
        state.SetIterationTime(std::chrono::duration<double>(*watch.painted() - called).count());
    }
    running = false;
    go.release();
    dispatcher.join();
}
BENCHMARK(WindowCallToPainted)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

// The lab switch and CTI server of a whole call, for agent 1001; wrap-up ends in Not Ready.
struct LabPeers {
    explicit LabPeers(const char* settingsFolder) {
        SettingsStore::useFolder((std::filesystem::temp_directory_path() / settingsFolder).string());
        lab.start();
        cti.configure([&](LabCtiOptions& options) {
            options.switchInfo = labcti::SwitchInfo{"127.0.0.1", std::to_string(lab.port())};
            options.loginSettings.wrapUp = {"NOT_READY", "30", "0"};
        });
        cti.start();
    }
    LoginEntries login() const { return {"1001", "pw1001", "127.0.0.1", std::to_string(cti.port())}; }

    static LabSwitchOptions switchOptions() {
        LabSwitchOptions options;
        options.users = {{"1001", "pw1001"}};
        options.callTokens = true;
        options.ringTime = 300ms;
        return options;
    }
    LabSwitch lab{switchOptions(), [](const std::string&) {}};
    LabCtiServer cti{LabCtiOptions{}, [](const std::string&) {}};
};

// The windowed phone as the program builds it, with our IAX2 engine on virtual audio devices.
struct LabPhone {
    EventQueue queue;
    FakeBrowserView browser;
    IaxVoiceEngine voice{IaxEngineConfig{"127.0.0.1", 0, supportedFormats()},
                         makeMediaEngine({AudioConfig::Backend::Virtual, "", "", ""})};
    COrvaneDlg bar{[this](AgentWindow& window) {
        return std::make_unique<CImplementation>(CImplementation::Seams{window, queue, voice, browser, 0});
    }};
};

// The longest stretch the window's thread spends away from its event loop (from waking to
// going back to wait), over a whole call clicked on the bar against the lab switch and CTI
// server with our IAX2 engine: login, ready, a distributed call with audio, hold, unhold,
// hang-up, close.
void LongestWindowStallDuringALabCall(benchmark::State& state) {
    LabPeers peers("orvane-ui-bench-call");
    for (auto _ : state) {
        LabPhone phone;
        COrvaneDlg& bar = phone.bar;
        // A heartbeat on the window's thread every millisecond: the longest gap between two beats
        // is the longest the thread was kept from its event loop.
        std::chrono::nanoseconds longest{0};
        Clock::time_point last = Clock::now();
        QTimer heartbeat;
        heartbeat.setTimerType(Qt::PreciseTimer);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            const auto now = Clock::now();
            longest = std::max(longest, std::chrono::duration_cast<std::chrono::nanoseconds>(now - last));
            last = now;
        });
        auto click = [&](Control id) {
            QWidget* button = bar.control(id);
            runUntil([&] { return button->isVisible() && button->isEnabled(); });
            QTest::mouseClick(button, Qt::LeftButton);
        };
        auto reach = [&](int wanted) { runUntil([&] { return bar.core()->stateMachine().state() == wanted; }); };

        bar.show();
        heartbeat.start(1);
        last = Clock::now();
        bar.OnInitDialog();
        reach(agent::AgentLoggedOut);
        bar.loginWith(peers.login());
        reach(agent::AgentNotReady);
        click(Control::Ready);
        reach(agent::AgentReady);
        peers.cti.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
        const auto beforeCall = longest;
        longest = {};
        reach(agent::AgentReadyInCall);
        QTest::qWait(3000);
        click(Control::Unhold);
        QTest::qWait(1000);
        click(Control::Hold);
        QTest::qWait(1000);
        click(Control::HangUp);
        reach(agent::AgentNotReady);
        const auto inCall = longest;
        longest = {};
        click(Control::Close);
        runUntil([&] { return !bar.isVisible(); });
        heartbeat.stop();
        auto ms = [](std::chrono::nanoseconds gap) { return std::chrono::duration<double, std::milli>(gap).count(); };
        state.counters["start_login_ready_ms"] = ms(beforeCall);
        state.counters["call_ms"] = ms(inCall);
        state.counters["close_ms"] = ms(longest);
    }
}
BENCHMARK(LongestWindowStallDuringALabCall)->Unit(benchmark::kSecond)->Iterations(1);

// Processor time used so far by the process or by the calling thread.
std::chrono::nanoseconds processorTime(clockid_t clock) {
    timespec used{};
    clock_gettime(clock, &used);
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

// The windowed phone idle in Not Ready (registered with the lab switch, the CTI link keeping its
// heartbeat): the share of one core the process uses over 20 s, with the ticker scrolling a
// status text (argument 1) or showing it fixed (argument 0). The lab peers run in the same
// process, so their small share is counted too; the window's thread (this one) is counted apart.
void IdleWindowedPhoneProcessorShare(benchmark::State& state) {
    const bool scrolling = state.range(0) == 1;
    LabPeers peers("orvane-ui-bench-idle");
    for (auto _ : state) {
        LabPhone phone;
        COrvaneDlg& bar = phone.bar;
        bar.show();
        bar.OnInitDialog();
        runUntil([&] { return bar.core()->stateMachine().state() == agent::AgentLoggedOut; });
        bar.loginWith(peers.login());
        runUntil([&] { return bar.core()->stateMachine().state() == agent::AgentNotReady; });
        TickerText shown = TickerText::alert("Not Ready: the phone is waiting for the agent");
        if (!scrolling) shown.mode = 3;
        bar.showTicker(shown);
        QTest::qWait(2000);
        if (bar.ticker().stepping() != scrolling) state.SkipWithError("the ticker is not in the asked mode");

        const auto wallStart = Clock::now();
        const auto processStart = processorTime(CLOCK_PROCESS_CPUTIME_ID);
        const auto windowStart = processorTime(CLOCK_THREAD_CPUTIME_ID);
        QEventLoop loop;  // not QTest::qWait, which wakes the thread every few milliseconds
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
        const auto process = processorTime(CLOCK_PROCESS_CPUTIME_ID) - processStart;
        const auto window = processorTime(CLOCK_THREAD_CPUTIME_ID) - windowStart;
        const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
        auto percent = [&](std::chrono::nanoseconds used) {
            return 100.0 * std::chrono::duration<double>(used).count() / wall;
        };
        state.counters["process_cpu_percent"] = percent(process);
        state.counters["window_thread_cpu_percent"] = percent(window);
        bar.requestCleanClose();
        runUntil([&] { return !bar.isVisible(); });
    }
}
BENCHMARK(IdleWindowedPhoneProcessorShare)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    CLogger::getInstance()->setDebugOutput(nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CLogger::destroyInstance();
    return 0;
}
