// The whole phone on loopback, as an agent feels it: registration with the switch, the Ready
// click until the agent is ready (the agent channel dialled and answered), and a distributed
// call until the phone is in the call. Our IAX2 engine with virtual audio, the lab switch
// (answering at once) and the lab CTI server; production intervals.

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "AgentVocabulary.h"
#include "agent/AgentButtons.h"
#include "agent/CImplementation.h"
#include "agent/HeadlessAgentWindow.h"
#include "agent/LoginEntries.h"
#include "support/FakeBrowserView.h"
#include "infra/CLogger.h"
#include "infra/SettingsStore.h"
#include "infra/Timing.h"
#include "lab/cti/LabCtiMessages.h"
#include "lab/cti/LabCtiServer.h"
#include "lab/switch/LabSwitch.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/MediaEngine.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::unique_ptr<IaxVoiceEngine> makeEngine() {
    return std::make_unique<IaxVoiceEngine>(IaxEngineConfig{"127.0.0.1", 0, supportedFormats()},
                                            makeMediaEngine({AudioConfig::Backend::Virtual, "", "", ""}));
}

LabSwitchOptions switchOptions() {
    LabSwitchOptions options;
    options.users = {{"1001", "pw1001"}};
    options.callTokens = true;
    options.ringTime = 0ms;
    return options;
}

void waitUntil(const std::function<bool()>& done) {
    while (!done()) std::this_thread::sleep_for(100us);
}

// REGREQ with a call token and the MD5 challenge until the result event says accepted.
void RegistrationOnLoopback(benchmark::State& state) {
    CLogger::getInstance()->setDebugOutput(nullptr);
    LabSwitch lab(switchOptions(), [](const std::string&) {});
    lab.start();
    auto engine = makeEngine();
    std::mutex lock;
    std::condition_variable accepted;
    int acceptedCount = 0;
    engine->iaxc_set_event_callback([&](const VoiceEvent& event) {
        if (event.type != VoiceEvent::Result || event.resultCode != VoiceEvent::RegistrationAccepted) return;
        std::lock_guard guard(lock);
        ++acceptedCount;
        accepted.notify_all();
    });
    engine->iaxc_initialize(3);
    engine->iaxc_start_processing_thread();
    const std::string host = "127.0.0.1:" + std::to_string(lab.port());
    for (auto _ : state) {
        const auto start = Clock::now();
        std::unique_lock guard(lock);
        const int before = acceptedCount;
        guard.unlock();
        engine->iaxc_register("1001", "pw1001", host);
        guard.lock();
        accepted.wait(guard, [&] { return acceptedCount > before; });
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        guard.unlock();
        engine->iaxc_unregister_user("1001", "pw1001", host);
        lab.waitForUnregistration("1001", 5s);
    }
}
BENCHMARK(RegistrationOnLoopback)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

// A logged-in phone, not ready, registered with the lab switch.
class Phone {
public:
    Phone() : lab_(switchOptions(), [](const std::string&) {}) {
        SettingsStore::useFolder((std::filesystem::temp_directory_path() / "orvane-phone-bench").string());
        lab_.start();
        cti_.configure([&](LabCtiOptions& options) {
            options.switchInfo = labcti::SwitchInfo{"127.0.0.1", std::to_string(lab_.port())};
            options.loginSettings.wrapUp = {"NOT_READY", "30", "0"};
            options.notReadyAck = LabNotReadyAck::AfterFirst;
        });
        cti_.start();
        core_.initialize();
        waitFor(agent::AgentLoggedOut);
        buttons_.OnBnClickedButtonLogin({"1001", "pw1001", "127.0.0.1", std::to_string(cti_.port())});
        waitFor(agent::AgentNotReady);
    }
    ~Phone() { core_.doWaitforCleanClose(); waitUntil([&] { return window_.closed(); }); }

    void waitFor(int state) { waitUntil([&] { return core_.stateMachine().state() == state; }); }
    AgentButtons& buttons() { return buttons_; }
    LabCtiServer& cti() { return cti_; }

private:
    LabSwitch lab_;
    LabCtiServer cti_{LabCtiOptions{}, [](const std::string&) {}};
    HeadlessAgentWindow window_{"Orvane"};
    EventQueue queue_;
    FakeBrowserView browser_;
    std::unique_ptr<IaxVoiceEngine> voice_ = makeEngine();
    CImplementation core_{{window_, queue_, *voice_, browser_, 0}};
    AgentButtons buttons_{core_.buttonServices(), window_};
};

// The Ready click until Agent-Ready, then back to not ready for the next round.
void ReadyClickToAgentReady(benchmark::State& state) {
    CLogger::getInstance()->setDebugOutput(nullptr);
    Phone phone;
    for (auto _ : state) {
        const auto start = Clock::now();
        phone.buttons().OnBnClickedButtonReady();
        phone.waitFor(agent::AgentReady);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        phone.buttons().OnBnClickedButtonNotReady();
        phone.waitFor(agent::AgentNotReady);
    }
}
BENCHMARK(ReadyClickToAgentReady)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// The CTI server's distributed call until the phone is In Call, then the agent hangs up.
void DistributedCallToInCall(benchmark::State& state) {
    CLogger::getInstance()->setDebugOutput(nullptr);
    Phone phone;
    int track = 0;
    for (auto _ : state) {
        phone.buttons().OnBnClickedButtonReady();
        phone.waitFor(agent::AgentReady);
        const auto start = Clock::now();
        phone.cti().push(labcti::queueDistribute({"T" + std::to_string(++track), "2026.12.08.10.00.00", "555", "",
                                                  std::nullopt, {}}));
        phone.waitFor(agent::AgentReadyInCall);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        phone.buttons().OnBnClickedButtonHangup();
        phone.waitFor(agent::AgentNotReady);
        std::this_thread::sleep_for(100ms);  // the server's acknowledgement of the not-ready, before the next call
    }
}
BENCHMARK(DistributedCallToInCall)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
