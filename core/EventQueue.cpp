#include "core/EventQueue.h"

#include "infra/CLogger.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"

EventQueue& EventQueue::instance() {
    static EventQueue* const queue = new EventQueue();  // outlives every thread that may still queue
    return *queue;
}

EventQueue::EventQueue() { logMessage(LogLevel::Debug, "EventQueue()"); }

EventQueue::~EventQueue() { join(); }

void EventQueue::QueuePhoneEvent(int event) {
    logMessage(LogLevel::Debug, "QueuePhoneEvent[%d]", event);
    {
        std::lock_guard guard(queueLock_);
        events_.push_back(event);
    }
    changed_.notify_one();
}

void EventQueue::start(EventTarget& target) {
    logMessage(LogLevel::Debug, "Init Queue Event");
    {
        std::lock_guard guard(queueLock_);
        events_.clear();
    }
    thread_ = std::thread([this, &target] { run(target); });
}

int EventQueue::size() {
    logMessage(LogLevel::Debug, "Get queue size");
    int count = 0;
    {
        std::lock_guard guard(queueLock_);
        count = static_cast<int>(events_.size());
    }
    logMessage(LogLevel::Debug, "size of queue [%d]", count);
    return count;
}

void EventQueue::signal() {
    logMessage(LogLevel::Debug, "Signal Queue Thread");
    wake();
}

void EventQueue::wake() {
    {
        std::lock_guard guard(queueLock_);
        woken_ = true;
    }
    changed_.notify_one();
}

void EventQueue::waitUntilEmpty() {
    int polls = 0;
    while (size() > 0) {
        logMessage(LogLevel::Debug, "Waiting for event queue to be empty");
        std::this_thread::sleep_for(Timing::scaled(intervals::kEventQueueDrainPoll));
        if (++polls > intervals::kEventQueueDrainPolls) {
            logMessage(LogLevel::Debug, "Timeout waiting for queue");
            return;
        }
    }
}

void EventQueue::join() {
    if (!thread_.joinable()) return;
    wake();  // to see that the target is closing
    thread_.join();
}

void EventQueue::run(EventTarget& target) {
    logMessage(LogLevel::Debug, "Entering EventQueueThread");
    std::unique_lock guard(queueLock_);
    for (;;) {
        if (events_.empty() && target.isClosing()) break;
        changed_.wait(guard, [this] { return !events_.empty() || woken_; });
        woken_ = false;
        if (events_.empty()) continue;
        const int event = events_.front();
        events_.pop_front();
        guard.unlock();
        logMessage(LogLevel::Debug, "EventQueueThread currentEvent [%d]", event);
        runGuarded("EventQueueThread", [&] { target.dispatchEvent(event); });
        guard.lock();
    }
    guard.unlock();
    logMessage(LogLevel::Debug, "Leaving EventQueueThread");
}
