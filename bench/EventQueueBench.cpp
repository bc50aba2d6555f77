// Events through the queue and the agent state machine, with every line logged to a file:
// throughput, and the latency from QueuePhoneEvent to the start of the dispatch.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "AgentVocabulary.h"
#include "agent/CImplementation.h"
#include "core/EventQueue.h"
#include "agent/HeadlessAgentWindow.h"
#include "support/FakeBrowserView.h"
#include "infra/CLogger.h"
#include "support/FakeVoiceEngine.h"

namespace {

using Clock = std::chrono::steady_clock;

// Forwards to the agent core and counts dispatches; stamps the start of each one.
class CountingTarget : public EventTarget {
public:
    explicit CountingTarget(CImplementation& core) : core_(core) {}
    void dispatchEvent(int event) override {
        lastStart = Clock::now().time_since_epoch().count();
        core_.dispatchEvent(event);
        dispatched.fetch_add(1, std::memory_order_release);
    }
    bool isClosing() const override { return closing; }

    std::atomic<long> dispatched{0};
    std::atomic<Clock::rep> lastStart{0};
    std::atomic<bool> closing{false};

private:
    CImplementation& core_;
};

struct Phone {
    Phone() : target(core) {
        CLogger::getInstance()->setDebugOutput(nullptr);  // the file only
        queue.start(target);
        queue.QueuePhoneEvent(agent::OkEvent);
        waitFor(1);
    }
    ~Phone() {
        target.closing = true;
        queue.join();
    }
    void waitFor(long count) const {
        while (target.dispatched.load(std::memory_order_acquire) < count) std::this_thread::yield();
    }

    HeadlessAgentWindow window;
    EventQueue queue;
    FakeVoiceEngine voice;
    FakeBrowserView browser;
    CImplementation core{{window, queue, voice, browser, 0}};
    CountingTarget target;
};

// Login refused over and over: Login-Event (4 actions), then Failed-Event (7 actions).
void EventsThroughQueueAndEngine(benchmark::State& state) {
    Phone phone;
    long queued = 1;
    for (auto _ : state) {
        for (int i = 0; i < 500; ++i) {
            phone.queue.QueuePhoneEvent(agent::LoginEvent);
            phone.queue.QueuePhoneEvent(agent::FailedEvent);
        }
        queued += 1000;
        phone.waitFor(queued);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(EventsThroughQueueAndEngine)->Unit(benchmark::kMillisecond)->UseRealTime();

// One event at a time into an idle queue, as clicks and network messages arrive.
void DispatchLatency(benchmark::State& state) {
    Phone phone;
    std::vector<double> latencies;
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pause(0, 7000);
    long queued = 1;
    for (auto _ : state) {
        const auto before = Clock::now().time_since_epoch().count();
        phone.queue.QueuePhoneEvent(++queued % 2 ? agent::FailedEvent : agent::LoginEvent);
        phone.waitFor(queued);
        latencies.push_back(static_cast<double>(phone.target.lastStart.load() - before) / 1e6);
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));  // arrive at any point of a poll
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_ms"] = latencies[latencies.size() / 2];
    state.counters["p99_ms"] = latencies[latencies.size() * 99 / 100];
}
BENCHMARK(DispatchLatency)->Iterations(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
