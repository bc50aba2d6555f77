#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// The ends of the agent's wrap-up, counted. A recording notes the count when its call starts;
// its worker goes on once a later end comes, so one end releases every recording waiting for
// it. Cancelling (the program ends) releases every wait at once.
class EndOfWrapUp {
public:
    void release() {
        {
            std::lock_guard guard(lock_);
            ++ends_;
        }
        changed_.notify_all();
    }
    std::uint64_t mark() const {
        std::lock_guard guard(lock_);
        return ends_;
    }
    // True once an end came after `mark`; false when cancelled first.
    bool waitAfter(std::uint64_t mark) {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] { return ends_ > mark || cancelled_; });
        return ends_ > mark;
    }
    void cancel() {
        {
            std::lock_guard guard(lock_);
            cancelled_ = true;
        }
        changed_.notify_all();
    }

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::uint64_t ends_ = 0;
    bool cancelled_ = false;
};
