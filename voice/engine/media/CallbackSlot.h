#pragma once

#include <mutex>
#include <utility>

// A callback that one thread installs, replaces or removes (an empty function) while another
// calls it. The call runs under the slot's lock, so once set() returns the old callback is
// neither running nor called again; set() must not be called from inside the callback, and
// the callback must not wait for a thread that may be calling set().
template <class Function>
class CallbackSlot {
public:
    void set(Function function) {
        {
            std::lock_guard guard(lock_);
            std::swap(function_, function);
        }
        // The old callback is destroyed here, outside the lock.
    }

    template <class... Args>
    void call(Args&&... args) {
        std::lock_guard guard(lock_);
        if (function_) function_(std::forward<Args>(args)...);
    }

private:
    std::mutex lock_;
    Function function_;
};
