#pragma once

#include <deque>
#include <mutex>
#include <thread>

#include "core/AutoResetEvent.h"

// What the dispatcher runs the queued events against: the agent core.
class EventTarget {
public:
    virtual void dispatchEvent(int event) = 0;
    // Set by the clean close; the dispatcher ends once it finds the queue empty.
    virtual bool isClosing() const = 0;

protected:
    ~EventTarget() = default;
};

// First-in first-out queue of agent events, emptied by one dispatcher thread, so the
// actions of one event always finish before the next event is looked up.
class EventQueue {
public:
    // The process-wide queue, created on first use and never destroyed.
    static EventQueue& instance();

    EventQueue();
    ~EventQueue();  // joins the dispatcher (which must have been told to close)
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Appends an event; callable from any thread, including from an action being dispatched.
    void QueuePhoneEvent(int event);
    // Empties the queue and starts the dispatcher thread.
    void start(EventTarget& target);
    int size();
    // Wakes the dispatcher; the engine calls it at the start of every dispatch.
    void signal();
    // Clean close: polls the size until the queue is empty, giving up after the last poll.
    void waitUntilEmpty();
    // Waits for the dispatcher thread to end.
    void join();

private:
    void run(EventTarget& target);

    std::mutex queueLock_;
    std::deque<int> events_;
    std::thread thread_;
    AutoResetEvent wakeEvent_;
};
