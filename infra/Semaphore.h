#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// A counting semaphore without an upper bound.
class Semaphore {
public:
    explicit Semaphore(int count = 0) : count_(count) {}

    void release() {
        {
            std::lock_guard guard(lock_);
            ++count_;
        }
        available_.notify_one();
    }
    void acquire() {
        std::unique_lock guard(lock_);
        available_.wait(guard, [this] { return count_ > 0; });
        --count_;
    }
    template <class Rep, class Period>
    bool tryAcquireFor(std::chrono::duration<Rep, Period> timeout) {
        std::unique_lock guard(lock_);
        if (!available_.wait_for(guard, timeout, [this] { return count_ > 0; })) return false;
        --count_;
        return true;
    }
    int count() const {
        std::lock_guard guard(lock_);
        return count_;
    }

private:
    mutable std::mutex lock_;
    std::condition_variable available_;
    int count_;
};
