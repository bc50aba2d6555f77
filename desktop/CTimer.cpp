#include "desktop/CTimer.h"

#include <utility>

#include "core/AgentWindow.h"
#include "infra/CLogger.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"

namespace {
constexpr std::uint32_t kRunningColour = 0x424242;  // RGB(66,66,66)
constexpr std::uint32_t kResetColour = 0x212121;    // RGB(33,33,33)
}  // namespace

CTimer::CTimer(AgentWindow& window) : window_(window), thread_([this] { timerThread(); }) {}

CTimer::~CTimer() {
    {
        std::lock_guard guard(lock_);
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::string CTimer::format(int hours, int minutes, int seconds) {
    return std::to_string(hours) + (minutes < 10 ? ":0" : ":") + std::to_string(minutes) + (seconds < 10 ? ":0" : ":") +
           std::to_string(seconds);
}

void CTimer::start() {
    {
        std::lock_guard guard(lock_);
        running_ = true;
        ++runs_;
    }
    changed_.notify_all();
}

void CTimer::stop() {
    bool wasRunning = false;
    {
        std::lock_guard guard(lock_);
        wasRunning = std::exchange(running_, false);
    }
    if (wasRunning) changed_.notify_all();  // a stopped clock's thread sleeps on
}

void CTimer::reset() {
    bool wasRunning = false;
    {
        std::lock_guard guard(lock_);  // held while the label is cleared: no count lands after it
        wasRunning = std::exchange(running_, false);
        window_.showCallTimer("", kResetColour);
    }
    if (wasRunning) changed_.notify_all();
}

bool CTimer::running() const {
    std::lock_guard guard(lock_);
    return running_;
}

void CTimer::timerThread() {
    std::unique_lock lock(lock_);
    for (;;) {
        changed_.wait(lock, [this] { return running_ || ending_; });
        if (ending_) return;
        if (!runGuarded("timerThread", [&] { count(lock); })) running_ = false;  // no failing over and over
    }
}

void CTimer::count(std::unique_lock<std::mutex>& lock) {
    logMessage(LogLevel::Debug, "CTimer, Timer thread started");
    const unsigned run = runs_;
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    const auto thisRun = [&] { return running_ && runs_ == run && !ending_; };
    while (thisRun()) {
        if (seconds > 59) ++minutes, seconds = 0;
        if (minutes > 59) ++hours, minutes = 0;
        window_.showCallTimer(format(hours, minutes, seconds), kRunningColour);
        if (changed_.wait_for(lock, Timing::scaled(intervals::kCallTimerTick), [&] { return !thisRun(); })) break;
        ++seconds;
    }
    logMessage(LogLevel::Normal, "CTimer, Timer thread terminated");
}
