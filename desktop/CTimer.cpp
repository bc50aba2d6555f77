#include "desktop/CTimer.h"

#include "core/AgentWindow.h"
#include "infra/CLogger.h"
#include "infra/Timing.h"

namespace {
constexpr std::uint32_t kRunningColour = 0x424242;  // RGB(66,66,66)
constexpr std::uint32_t kResetColour = 0x212121;    // RGB(33,33,33)
}  // namespace

CTimer::CTimer(AgentWindow& window) : window_(window) {}

CTimer::~CTimer() { stopAndJoin(); }

std::string CTimer::format(int hours, int minutes, int seconds) {
    return std::to_string(hours) + (minutes < 10 ? ":0" : ":") + std::to_string(minutes) + (seconds < 10 ? ":0" : ":") +
           std::to_string(seconds);
}

void CTimer::start() {
    stopAndJoin();
    stop_ = false;
    thread_ = std::thread([this] { timerThread(); });
}

void CTimer::stop() {
    {
        std::lock_guard guard(lock_);
        stop_ = true;
    }
    wake_.notify_all();
}

void CTimer::stopAndJoin() {
    stop();
    if (thread_.joinable()) thread_.join();
}

void CTimer::reset() {
    stopAndJoin();
    window_.showCallTimer("", kResetColour);
}

void CTimer::timerThread() {
    logMessage(LogLevel::Debug, "CTimer, Timer thread started");
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    std::unique_lock guard(lock_);
    while (!stop_) {
        if (seconds > 59) ++minutes, seconds = 0;
        if (minutes > 59) ++hours, minutes = 0;
        window_.showCallTimer(format(hours, minutes, seconds), kRunningColour);
        wake_.wait_for(guard, Timing::scaled(intervals::kCallTimerTick), [this] { return stop_.load(); });
        ++seconds;
    }
    logMessage(LogLevel::Normal, "CTimer, Timer thread terminated");
}
