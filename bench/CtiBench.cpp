// The CTI link: element-message parsing, and inbound messages handled per second from the
// lab server through the phone's receiver and handlers (with the log written to a file).

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "AgentVocabulary.h"
#include "agent/AgentButtons.h"
#include "agent/CImplementation.h"
#include "agent/HeadlessAgentWindow.h"
#include "agent/LoginEntries.h"
#include "cti/KVSet.h"
#include "support/FakeBrowserView.h"
#include "infra/CLogger.h"
#include "infra/SettingsStore.h"
#include "infra/Timing.h"
#include "lab/cti/LabCtiMessages.h"
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

void InboundMessagesEndToEnd(benchmark::State& state) {
    Timing::setScale(0.01);
    SettingsStore::useFolder("bench-settings");
    CLogger::getInstance()->setDebugOutput(nullptr);
    LabCtiServer server;
    server.start();
    HeadlessAgentWindow window;
    EventQueue queue;
    FakeVoiceEngine voice;
    FakeBrowserView browser;
    CImplementation core({window, queue, voice, browser, 0});
    AgentButtons buttons(core, window);
    core.initialize();
    buttons.OnBnClickedButtonLogin({"1001", "pw", "127.0.0.1", std::to_string(server.port())});
    while (core.stateMachine().state() != agent::AgentLoggingInWhithNotReady)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Timing::setScale(1.0);  // production pauses from here on

    long next = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) server.push(labcti::velmoraTracknum("T" + std::to_string(++next), "1"));
        const std::string last = "T" + std::to_string(next);
        while (voice.iaxc_get_call_tag(1).value_or("") != last) std::this_thread::yield();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(InboundMessagesEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
