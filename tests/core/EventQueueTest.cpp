#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "core/EventQueue.h"
#include "infra/Timing.h"
#include "support/LogCapture.h"
#include "support/TimeScale.h"

namespace {

using namespace std::chrono_literals;

// Records the events it is given; a test can hook each dispatch. Like the engine, it wakes
// the dispatcher at the start of every dispatch.
class RecordingTarget : public EventTarget {
public:
    explicit RecordingTarget(EventQueue& queue) : queue_(queue) {}
    ~RecordingTarget() {
        closing = true;
        queue_.join();
    }

    void dispatchEvent(int event) override {
        queue_.signal();
        if (onDispatch) onDispatch(event);
        std::lock_guard guard(lock);
        dispatched.push_back(event);
    }
    bool isClosing() const override { return closing; }

    std::vector<int> events() {
        std::lock_guard guard(lock);
        return dispatched;
    }
    bool waitForCount(std::size_t count) {
        for (int i = 0; i < 2000; ++i) {
            if (events().size() >= count) return true;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }

    std::function<void(int)> onDispatch;
    std::atomic<bool> closing{false};

private:
    EventQueue& queue_;
    std::mutex lock;
    std::vector<int> dispatched;
};

}  // namespace

TEST(EventQueue, EventsFromManyThreadsAreDispatchedOnceEachInAppendOrder) {
    EventQueue queue;
    RecordingTarget target(queue);
    queue.start(target);
    constexpr int kThreads = 4;
    constexpr int kPerThread = 300;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t)
        producers.emplace_back([&queue, t] {
            for (int i = 0; i < kPerThread; ++i) queue.QueuePhoneEvent(t * 10000 + i);
        });
    for (auto& producer : producers) producer.join();
    ASSERT_TRUE(target.waitForCount(kThreads * kPerThread));
    target.closing = true;
    queue.join();

    const auto events = target.events();
    EXPECT_EQ(events.size(), static_cast<std::size_t>(kThreads * kPerThread));
    std::map<int, int> nextOf;  // per producer, the sequence number expected next
    for (int event : events) {
        const int producer = event / 10000;
        EXPECT_EQ(event % 10000, nextOf[producer]++) << "producer " << producer;
    }
}

TEST(EventQueue, EventQueuedByAnActionWaitsForTheEndOfItsDispatch) {
    EventQueue queue;
    RecordingTarget target(queue);
    std::vector<std::string> order;
    std::mutex orderLock;
    const auto note = [&](const std::string& step) {
        std::lock_guard guard(orderLock);
        order.push_back(step);
    };
    target.onDispatch = [&](int event) {
        note("begin " + std::to_string(event));
        if (event == 1) {
            queue.QueuePhoneEvent(2);
            std::this_thread::sleep_for(30ms);
        }
        note("end " + std::to_string(event));
    };
    queue.start(target);
    queue.QueuePhoneEvent(1);
    ASSERT_TRUE(target.waitForCount(2));
    target.closing = true;
    queue.join();
    EXPECT_EQ(order, (std::vector<std::string>{"begin 1", "end 1", "begin 2", "end 2"}));
}

TEST(EventQueue, ClosingWithEventsStillQueuedDispatchesThemBeforeTheDispatcherEnds) {
    EventQueue queue;
    RecordingTarget target(queue);
    std::atomic<bool> release{false};
    target.onDispatch = [&](int event) {
        while (event == 1 && !release) std::this_thread::sleep_for(1ms);
    };
    queue.start(target);
    queue.QueuePhoneEvent(1);
    for (int i = 0; i < 2000 && queue.size() > 0; ++i) std::this_thread::sleep_for(1ms);  // 1 is being dispatched
    queue.QueuePhoneEvent(2);
    queue.QueuePhoneEvent(3);
    target.closing = true;
    release = true;
    queue.join();
    EXPECT_EQ(target.events(), (std::vector<int>{1, 2, 3}));
}

TEST(EventQueue, ClosingWithAnEmptyQueueEndsTheDispatcherPromptly) {
    LogCapture log;
    EventQueue queue;
    RecordingTarget target(queue);
    queue.start(target);
    std::this_thread::sleep_for(20ms);
    const auto before = std::chrono::steady_clock::now();
    target.closing = true;
    queue.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    EXPECT_TRUE(log.contains("Entering EventQueueThread"));
    EXPECT_TRUE(log.contains("Leaving EventQueueThread"));
}

TEST(EventQueue, DrainGivesUpAfterSixtyOneHalfSecondPollsWhenADispatchNeverEnds) {
    ScopedTimeScale timeScale(0.002);  // 500 ms polls become 1 ms
    LogCapture log;
    EventQueue queue;
    RecordingTarget target(queue);
    std::atomic<bool> release{false};
    target.onDispatch = [&](int) {
        while (!release) std::this_thread::sleep_for(1ms);
    };
    queue.start(target);
    queue.QueuePhoneEvent(1);  // stuck in its dispatch
    for (int i = 0; i < 2000 && queue.size() > 0; ++i) std::this_thread::sleep_for(1ms);
    queue.QueuePhoneEvent(2);  // waits behind it for ever
    log.clear();
    queue.waitUntilEmpty();
    EXPECT_EQ(log.count("Waiting for event queue to be empty"), 61);
    EXPECT_EQ(log.count("Timeout waiting for queue"), 1);
    release = true;
    target.closing = true;
    queue.join();
}

TEST(EventQueue, SizeAndSignalLogTheirSteps) {
    LogCapture log;
    EventQueue queue;
    queue.QueuePhoneEvent(29);
    EXPECT_EQ(queue.size(), 1);
    queue.signal();
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"EventQueue()", "QueuePhoneEvent[29]", "Get queue size",
                                                        "size of queue [1]", "Signal Queue Thread"}));
}
