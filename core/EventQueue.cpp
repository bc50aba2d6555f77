#include "core/EventQueue.h"

#include "infra/CLogger.h"
#include "infra/Timing.h"

EventQueue& EventQueue::instance() {
    static EventQueue* const queue = new EventQueue();  // outlives every thread that may still queue
    return *queue;
}

EventQueue::EventQueue() { logMessage(LogLevel::Debug, "EventQueue()"); }

EventQueue::~EventQueue() { join(); }

void EventQueue::QueuePhoneEvent(int event) {
    logMessage(LogLevel::Debug, "QueuePhoneEvent[%d]", event);
    std::lock_guard guard(queueLock_);
    events_.push_back(event);
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
    wakeEvent_.set();
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
    if (thread_.joinable()) thread_.join();
}

void EventQueue::run(EventTarget& target) {
    logMessage(LogLevel::Debug, "Entering EventQueueThread");
    int lastSize = 0;
    for (;;) {
        wakeEvent_.waitFor(Timing::scaled(intervals::kEventQueuePoll));
        if (lastSize == 0 && target.isClosing()) break;
        int event = 0;
        {
            std::lock_guard guard(queueLock_);
            lastSize = static_cast<int>(events_.size());
            if (lastSize < 1) continue;
            event = events_.front();
            events_.pop_front();
        }
        logMessage(LogLevel::Debug, "EventQueueThread currentEvent [%d]", event);
        target.dispatchEvent(event);
    }
    logMessage(LogLevel::Debug, "Leaving EventQueueThread");
}
