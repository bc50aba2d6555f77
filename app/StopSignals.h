#pragma once

#include <atomic>

// SIGINT and SIGTERM as a file descriptor the program waits on with everything else: the
// signals are blocked in every thread (so create this before any thread starts) and the
// descriptor becomes readable when one arrives.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    int fd() const { return fd_; }
    // Takes what has arrived; true when a signal had.
    bool take();

private:
    int fd_ = -1;
};

// A descriptor that becomes readable when another thread says something changed; any number of
// notifications before the waiter looks cost one wake-up.
class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    int fd() const { return fd_; }
    void notify();
    // Clears the notification; call before looking at what changed.
    void take();

private:
    int fd_ = -1;
    std::atomic<bool> pending_{false};
};
