#include "desktop/WrapUpChecker.h"

#include "infra/CLogger.h"
#include "infra/LeadingInt.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"

WrapUpChecker::WrapUpChecker(Agent& agent) : agent_(agent) {}

WrapUpChecker::~WrapUpChecker() {
    stop();
    if (thread_.joinable()) thread_.join();
}

template <class Change>
void WrapUpChecker::change(Change&& apply) {
    {
        std::lock_guard guard(stateLock_);
        apply();
    }
    stateChanged_.notify_all();
}

void WrapUpChecker::start() {
    if (thread_.joinable()) return;
    change([this] { stop_ = false; });
    thread_ = std::thread([this] { checkerThread(); });
}

void WrapUpChecker::stop() {
    change([this] { stop_ = true; });
    wakeEvent_.set();
}

void WrapUpChecker::setWrapUpSettings(const std::string& actionAfterTimeOut, const std::string& maxWrapUp,
                                      const std::string& wrapUpTimeOut) {
    change([&] {
        timeOutEnabled_ = !wrapUpTimeOut.empty() && leadingInt(wrapUpTimeOut) == 1;
        maxWrapUp_ = maxWrapUp.empty() ? 0 : leadingInt(maxWrapUp);
        action_.set(actionAfterTimeOut.empty() ? "NOT_READY" : actionAfterTimeOut);
    });
    logMessage(LogLevel::Normal,
               "WrapUp informations : Wrap Up timeout[%d]  Max Wrap Up[%d]  Action after Wrap Up timeout[%s]",
               timeOutEnabled_ ? 1 : 0, maxWrapUp_.load(), action_.get().c_str());
}

void WrapUpChecker::setInWrapUp(bool inWrapUp) {
    if (inWrapUp) {
        change([this] {
            inWrapUp_ = true;
            wakeEvent_.reset();  // a new wrap-up is timed in full: the signal that ended an earlier one is spent
        });
        return;
    }
    inWrapUp_ = false;  // the checker's sleep does not end for this; its wait for the time-out does
    agent_.releaseEndOfWrapUp();
    wakeEvent_.set();
}

bool WrapUpChecker::waitForTimedWrapUp() {
    std::unique_lock guard(stateLock_);
    stateChanged_.wait(guard, [this] { return stop_ || (timeOutEnabled_ && inWrapUp_); });
    return !stop_;
}

void WrapUpChecker::pause() {
    std::unique_lock guard(stateLock_);
    stateChanged_.wait_for(guard, Timing::scaled(intervals::kWrapUpCheckPause), [this] { return stop_.load(); });
}

void WrapUpChecker::checkWrapUp() {
    const int seconds = maxWrapUp_;
    const auto limit = std::chrono::seconds(seconds < 0 ? 0 : seconds);
    const bool signalled = wakeEvent_.waitFor(Timing::scaled(limit));
    if (!signalled && inWrapUp_ && !stop_) {
        const std::string action = action_.get();
        logMessage(LogLevel::Normal,
                   "WrapUpChecker::checkerThread() - Time out reached and agent was in Wrap Up, going into %s "
                   "mode [%d]",
                   action.c_str(), seconds);
        agent_.applyActionAfterWrapUp(action);
        setInWrapUp(false);
    } else if (signalled && !stop_) {
        logMessage(LogLevel::Normal,
                   "WrapUpChecker::checkerThread() - Received the signal... not in wrap up anymore, nothing "
                   "special to do.");
    }
}

void WrapUpChecker::checkerThread() {
    while (waitForTimedWrapUp()) {
        runGuarded("checkerThread", [this] { checkWrapUp(); });
        pause();
    }
}
