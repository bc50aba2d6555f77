#pragma once

#include <mutex>
#include <utility>

// A value read and written by several threads, each access under its own lock.
template <class T>
class Guarded {
public:
    Guarded() = default;
    explicit Guarded(T value) : value_(std::move(value)) {}

    T get() const {
        std::lock_guard guard(lock_);
        return value_;
    }
    void set(T value) {
        std::lock_guard guard(lock_);
        value_ = std::move(value);
    }
    // Runs `change` on the value under the lock and returns what it returns.
    template <class F>
    auto update(F&& change) {
        std::lock_guard guard(lock_);
        return change(value_);
    }

private:
    mutable std::mutex lock_;
    T value_{};
};
