#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

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
// actions of one event always finish before the next event is looked up. The dispatcher
// sleeps until an event is queued and takes it at once.
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
    // Wakes the dispatcher for one more look; the engine calls it at the start of every dispatch.
    void signal();
    // Clean close: polls the size until the queue is empty, giving up after the last poll.
    void waitUntilEmpty();
    // Waits for the dispatcher thread to end; it ends once the target is closing and the queue empty.
    void join();

private:
    void run(EventTarget& target);

    void wake();

    std::mutex queueLock_;
    std::condition_variable changed_;  // an event queued, or a wake-up
    std::deque<int> events_;
    bool woken_ = false;
    std::thread thread_;
};
