#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

#include "infra/Timing.h"

// Sleeps for the scaled interval unless a stop is requested first; false when it was.
inline bool pauseUnlessStopped(const std::stop_token& stop, std::chrono::microseconds interval) {
    std::mutex lock;
    std::condition_variable_any woken;
    std::unique_lock guard(lock);
    woken.wait_for(guard, stop, Timing::scaled(interval), [] { return false; });
    return !stop.stop_requested();
}
