// The CTI link: element-message parsing, inbound messages handled per second from the lab
// server through the phone's receiver and handlers (with the log written to a file), the
// log written for a burst of heartbeats from the CTI server and from the applet, and what an
// idle logged-in phone costs the machine.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "AgentVocabulary.h"
#include "ThreadUsage.h"
#include "agent/AgentButtons.h"
#include "agent/CImplementation.h"
#include "agent/HeadlessAgentWindow.h"
#include "agent/LoginEntries.h"
#include "wire/KVSet.h"
#include "support/FakeBrowserView.h"
#include "infra/CLogger.h"
#include "infra/SettingsStore.h"
#include "infra/Timing.h"
#include "lab/cti/LabCtiMessages.h"
#include "lab/applet/LabAppletClient.h"
#include "lab/cti/LabCtiServer.h"
#include "support/FakeVoiceEngine.h"

namespace {

// A distributed call with a screen-pop URL and three items of attached data.
std::string distributedCall() {
    labcti::QueueDistribute call{"T1234567", "2026.12.08.10.00.00", "0612345678",
                                 "http://crm.example/popup?campaign=WINTER&ANI=0612345678", std::nullopt, {}};
    call.extraData.push_back({{"CustomerId", "C-991", "crm", "STRINGDATA", "true"},
                              {"Segment", "Gold", "crm", "STRINGDATA", "false"},
                              {"Notes", std::string(200, 'n'), "agent", "TEXTFILE", "false"}});
    return labcti::queueDistribute(call);
}

void KVSetParse(benchmark::State& state) {
    const std::string message = distributedCall();
    for (auto _ : state) {
        KVSet set;
        benchmark::DoNotOptimize(set.parse(message));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}
BENCHMARK(KVSetParse);

// A phone logged in to the lab CTI server (login answered, registration not yet), with every
// pause at its production length once logged in and the log written to its file only.
struct LoggedInPhone {
    LoggedInPhone() {
        Timing::setScale(0.01);
        SettingsStore::useFolder("bench-settings");
        CLogger::getInstance()->setDebugOutput(nullptr);
        server.start();
        core.initialize();
        buttons.OnBnClickedButtonLogin({"1001", "pw", "127.0.0.1", std::to_string(server.port())});
        while (core.stateMachine().state() != agent::AgentLoggingInWhithNotReady)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Timing::setScale(1.0);
    }
    // Waits until the receiver has handled everything pushed so far: the last of them tags line 1.
    void pushAndWait(const std::string& bytes) {
        const std::string mark = "M" + std::to_string(++marks);
        server.pushBytes(bytes);
        server.push(labcti::velmoraTracknum(mark, "1"));
        while (voice.iaxc_get_call_tag(1).value_or("") != mark) std::this_thread::yield();
    }

    LabCtiServer server;
    HeadlessAgentWindow window;
    EventQueue queue;
    FakeVoiceEngine voice;
    FakeBrowserView browser;
    CImplementation core{{window, queue, voice, browser, 0}};
    AgentButtons buttons{core.buttonServices(), window};
    int marks = 0;
};

std::uintmax_t logFileSize() {
    CLogger::getInstance()->flush();
    std::error_code ignored;
    return std::filesystem::file_size(CLogger::getInstance()->fileName(), ignored);
}

std::string repeated(const std::string& frame, std::size_t bytes) {
    std::string text;
    while (text.size() + frame.size() <= bytes) text += frame;
    return text;
}

void InboundMessagesEndToEnd(benchmark::State& state) {
    LoggedInPhone phone;
    long next = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) phone.server.push(labcti::velmoraTracknum("T" + std::to_string(++next), "1"));
        const std::string last = "T" + std::to_string(next);
        while (phone.voice.iaxc_get_call_tag(1).value_or("") != last) std::this_thread::yield();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(InboundMessagesEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// 300 KB of heartbeat answers from the CTI server at once: the log written for them.
void HeartbeatBurstLogSize(benchmark::State& state) {
    LoggedInPhone phone;
    const std::string burst = repeated("58~", 300 * 1024);
    for (auto _ : state) {
        const auto before = logFileSize();
        phone.pushAndWait(burst);
        state.counters["log_bytes"] = static_cast<double>(logFileSize() - before);
    }
}
BENCHMARK(HeartbeatBurstLogSize)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// 30 KB of heartbeats from the applet on the local listener at once: the log written for them.
void AppletBurstLogSize(benchmark::State& state) {
    LoggedInPhone phone;
    phone.core.StartListeningForClient();
    while (phone.core.clientListener().port() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    LabAppletClient applet({static_cast<std::uint16_t>(phone.core.clientListener().port()), true,
                            intervals::kLabAppletHeartbeat});
    applet.connect();
    applet.waitForReply("58", std::chrono::seconds(10));
    const std::string burst = repeated("58~", 30 * 1024);
    const std::size_t beats = burst.size() / 3;
    for (auto _ : state) {
        applet.clearReplies();
        const auto before = logFileSize();
        applet.sendBytes(burst);
        applet.waitForReplyCount([](const std::string& reply) { return reply == "58"; }, beats, std::chrono::minutes(10));
        state.counters["log_bytes"] = static_cast<double>(logFileSize() - before);
    }
}
BENCHMARK(AppletBurstLogSize)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// An agent logged in and not ready, with nothing happening: the wake-ups and CPU share of every
// thread but the benchmark's own over ten seconds (the dispatcher, the wrap-up checker, the
// call timer, the CTI receiver and its heartbeat, the local listener, the log writer, and the
// lab server's two threads, which wake only for the heartbeat).
void IdleLoggedInPhone(benchmark::State& state) {
    LoggedInPhone phone;
    phone.voice.emitResult(VoiceEvent::RegistrationAccepted, "Registration accepted");
    while (phone.core.stateMachine().state() != agent::AgentNotReady)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the login's threads have ended
    const std::set<int> benchmarkThread{static_cast<int>(gettid())};
    for (auto _ : state) {
        const IdleCost cost = idleCost(benchmarkThread, std::chrono::seconds(10));
        state.counters["threads"] = static_cast<double>(cost.threads);
        state.counters["wakeups_per_s"] = cost.wakeupsPerSecond;
        state.counters["cpu_percent"] = cost.cpuPercent;
    }
}
BENCHMARK(IdleLoggedInPhone)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
