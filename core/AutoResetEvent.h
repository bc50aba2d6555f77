#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// An event that releases one waiter and then resets itself; set while nobody waits, it
// stays set until the next wait takes it.
class AutoResetEvent {
public:
    void set() {
        {
            std::lock_guard guard(lock_);
            signalled_ = true;
        }
        condition_.notify_one();
    }

    // Forgets a set that no wait has taken.
    void reset() {
        std::lock_guard guard(lock_);
        signalled_ = false;
    }

    // True when the event was set within the time-out.
    template <class Rep, class Period>
    bool waitFor(std::chrono::duration<Rep, Period> timeout) {
        std::unique_lock guard(lock_);
        if (!condition_.wait_for(guard, timeout, [this] { return signalled_; })) return false;
        signalled_ = false;
        return true;
    }

private:
    std::mutex lock_;
    std::condition_variable condition_;
    bool signalled_ = false;
};
