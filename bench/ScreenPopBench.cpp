// The screen pop in the real browser engine (offscreen), as the agent feels it: how long a page's
// title takes to become an agent event, how long a distributed call takes to show its page, and
// what the browser costs in memory (the phone and its QtWebEngineProcess children).

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include "AgentVocabulary.h"
#include "agent/AgentButtons.h"
#include "agent/CImplementation.h"
#include "agent/HeadlessAgentWindow.h"
#include "agent/LoginEntries.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "desktop/BrowserHandler.h"
#include "infra/CLogger.h"
#include "infra/SettingsStore.h"
#include "lab/cti/LabCtiMessages.h"
#include "lab/cti/LabCtiServer.h"
#include "lab/web/LabWebServer.h"
#include "support/FakeVoiceEngine.h"
#include "ui/ScreenPopWindow.h"
#include "ui/WebEngineSetup.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

ScreenPopWindow* screenPop = nullptr;
const std::filesystem::path kFolder = std::filesystem::temp_directory_path() / "orvane-screen-pop-bench";

// Runs the GUI thread's events until `done` holds (or a minute passes).
bool pumpUntil(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + 60s;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

double epochMilliseconds() {
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Resident and proportional memory of this process and every process below it.
struct Memory {
    double rssMb = 0;
    double pssMb = 0;
    int processes = 0;
};

long kilobytes(const std::string& file, const std::string& field) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(field)) return std::stol(line.substr(field.size()));
    return 0;
}

Memory browserMemory() {
    std::map<int, int> parents;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(proc)) {
            const int pid = std::atoi(entry->d_name);
            if (pid <= 0) continue;
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
            const auto close = text.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream rest(text.substr(close + 2));
            char state = 0;
            int parent = 0;
            rest >> state >> parent;
            parents[pid] = parent;
        }
        ::closedir(proc);
    }
    Memory memory;
    const int self = ::getpid();
    for (const auto& [pid, parent] : parents) {
        int up = pid;
        while (up > 1 && up != self) up = parents.count(up) ? parents[up] : 0;
        if (up != self) continue;
        const std::string base = "/proc/" + std::to_string(pid);
        memory.rssMb += kilobytes(base + "/status", "VmRSS:") / 1024.0;
        memory.pssMb += kilobytes(base + "/smaps_rollup", "Pss:") / 1024.0;
        ++memory.processes;
    }
    return memory;
}

void report(benchmark::State& state, const std::string& name, const Memory& memory) {
    state.counters[name + "_rss_MB"] = memory.rssMb;
    state.counters[name + "_pss_MB"] = memory.pssMb;
    state.counters[name + "_processes"] = memory.processes;
}

// The screen pop's agent side, noting when each submit arrives.
class TimedAgent : public BrowserHandler::Agent {
public:
    explicit TimedAgent(const Call& call) : call_(call) {}

    void QueuePhoneEvent(int event) override {
        if (event != agent::SubmitSentEvent) return;
        // The page put its own clock reading (milliseconds since the epoch) in the client field.
        const double setAt = std::stod(call_.snapshot().tags.client.substr(1));
        std::lock_guard guard(lock_);
        latencies_.push_back(epochMilliseconds() - setAt);
    }
    void setAgentMode(int) override {}
    void SendTransferToCti() override {}

    std::size_t count() const {
        std::lock_guard guard(lock_);
        return latencies_.size();
    }
    double latency(std::size_t index) const {
        std::lock_guard guard(lock_);
        return latencies_[index];
    }

private:
    const Call& call_;
    mutable std::mutex lock_;
    std::vector<double> latencies_;
};

void writePages() {
    std::filesystem::create_directories(kFolder);
    std::ofstream(kFolder / "page.html") << "<html><head><title>A page</title></head><body>Customer case</body></html>";
    // A new title every 100 ms, stamped with the page's clock.
    std::ofstream(kFolder / "titles.html") << R"(<html><head><title>Titles</title></head><body><script>
let n = 0;
function tick() {
  const now = performance.timeOrigin + performance.now();
  document.title = "T" + now.toFixed(3) + "-Bench-N" + (n++) + ".submit:sent";
  setTimeout(tick, 100);
}
window.addEventListener("load", () => setTimeout(tick, 100));
</script></body></html>)";
}

// Memory with no window yet (the engine started), with a hidden window, and with a page shown.
void BrowserMemory(benchmark::State& state) {
    LabWebServer web({0, kFolder.string()}, [](const std::string&) {});
    web.start();
    Call call;
    AgentProfile profile;
    TimedAgent agent(call);
    for (auto _ : state) {
        pumpUntil([] { return true; });
        report(state, "engine", browserMemory());
        BrowserHandler handler(agent, call, profile, *screenPop);
        handler.start();
        pumpUntil([] { return screenPop->view() != nullptr; });
        std::this_thread::sleep_for(1s);
        report(state, "idle", browserMemory());
        bool shown = false;
        auto connection = QObject::connect(screenPop, &ScreenPopWindow::pageShown, [&] { shown = true; });
        handler.setUrl(web.url("/page.html"));
        pumpUntil([&] { return shown; });
        QObject::disconnect(connection);
        std::this_thread::sleep_for(1s);
        report(state, "page", browserMemory());
        handler.shutdown();
        pumpUntil([] { return screenPop->view() == nullptr; });
    }
}
BENCHMARK(BrowserMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// From the page setting its title to the agent event the title means.
void TitleToAgentEvent(benchmark::State& state) {
    LabWebServer web({0, kFolder.string()}, [](const std::string&) {});
    web.start();
    Call call;
    AgentProfile profile;
    TimedAgent agent(call);
    BrowserHandler handler(agent, call, profile, *screenPop);
    handler.setUrl(web.url("/titles.html"));
    pumpUntil([&] { return agent.count() > 0; });
    std::size_t next = agent.count();
    for (auto _ : state) {
        pumpUntil([&] { return agent.count() > next; });
        state.SetIterationTime(agent.latency(next) / 1000.0);
        ++next;
    }
    handler.shutdown();
    pumpUntil([] { return screenPop->view() == nullptr; });
}
BENCHMARK(TitleToAgentEvent)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

// From the CTI server sending MSG_TYPE_QUEUE_DISTRIBUTE to the page shown in the window: the
// whole phone (its voice engine scripted), the lab CTI server and the lab web server on loopback.
void DistributeToPageVisible(benchmark::State& state) {
    SettingsStore::useFolder((kFolder / "settings").string());
    LabWebServer web({0, kFolder.string()}, [](const std::string&) {});
    web.start();
    LabCtiServer cti({}, [](const std::string&) {});
    cti.start();
    HeadlessAgentWindow window("Orvane");
    EventQueue queue;
    FakeVoiceEngine voice;
    voice.registrationAnswer = VoiceEvent::RegistrationAccepted;
    {
        CImplementation core({window, queue, voice, *screenPop, 0});
        AgentButtons buttons(core.buttonServices(), window);
        core.initialize();
        pumpUntil([&] { return core.stateMachine().state() == agent::AgentLoggedOut; });
        buttons.OnBnClickedButtonLogin({"1001", "pw1001", "127.0.0.1", std::to_string(cti.port())});
        pumpUntil([&] { return core.stateMachine().state() == agent::AgentNotReady; });
        core.browserHandler().start();
        pumpUntil([] { return screenPop->view() != nullptr; });

        QString shownUrl;
        QObject::connect(screenPop, &ScreenPopWindow::pageShown, [&](const QString& url) { shownUrl = url; });
        int track = 7000;
        for (auto _ : state) {
            const std::string page = web.url("/page.html?case=" + std::to_string(++track));
            const QString expected = QString::fromStdString(page + "&AGENT_ID=1001");
            const auto start = Clock::now();
            cti.push(labcti::queueDistribute({std::to_string(track), "2026.12.08.10.00.00", "555", page, std::nullopt, {}}));
            pumpUntil([&] { return shownUrl == expected; });
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            state.SetIterationTime(seconds);
            // The first page of the window also starts its renderer process.
            if (track == 7001) state.counters["first_page_ms"] = seconds * 1000;
        }
        QObject::disconnect(screenPop, &ScreenPopWindow::pageShown, nullptr, nullptr);
        core.doWaitforCleanClose();
        pumpUntil([&] { return window.closed(); });
    }
    pumpUntil([] { return screenPop->view() == nullptr; });
}
BENCHMARK(DistributeToPageVisible)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    CLogger::getInstance()->setDebugOutput([](std::string_view) {});
    writePages();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareWebEngine(true);
    QApplication application(argc, argv);
    {
        ScreenPopWindow window;
        screenPop = &window;
        benchmark::RunSpecifiedBenchmarks();
        screenPop = nullptr;
    }
    benchmark::Shutdown();
    std::filesystem::remove_all(kFolder);
    CLogger::destroyInstance();
    return 0;
}
