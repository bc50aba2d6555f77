#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "core/AutoResetEvent.h"
#include "infra/Guarded.h"

// Enforces the wrap-up limit the CTI server sets: when the agent stays in wrap-up longer
// than allowed, the action after time-out (Ready, logged out, or not ready) is applied.
class WrapUpChecker {
public:
    // What the checker asks of the agent core.
    class Agent {
    public:
        virtual void applyActionAfterWrapUp(const std::string& action) = 0;
        // Wrap-up ended: a finished recording waiting for it may go on.
        virtual void releaseEndOfWrapUp() = 0;

    protected:
        ~Agent() = default;
    };

    explicit WrapUpChecker(Agent& agent);
    ~WrapUpChecker();
    WrapUpChecker(const WrapUpChecker&) = delete;
    WrapUpChecker& operator=(const WrapUpChecker&) = delete;

    void start();
    void stop();
    void setWrapUpSettings(const std::string& actionAfterTimeOut, const std::string& maxWrapUp,
                           const std::string& wrapUpTimeOut);
    void setInWrapUp(bool inWrapUp);
    bool inWrapUp() const { return inWrapUp_; }
    bool timeOutEnabled() const { return timeOutEnabled_; }
    int maxWrapUp() const { return maxWrapUp_; }
    std::string actionAfterTimeOut() const { return action_.get(); }

private:
    void checkerThread();
    // Sleeps, or less when the checker is stopped.
    void pause();

    Agent& agent_;
    std::atomic<bool> timeOutEnabled_{false};
    std::atomic<int> maxWrapUp_{0};
    Guarded<std::string> action_;
    std::atomic<bool> inWrapUp_{false};
    std::atomic<bool> stop_{false};
    AutoResetEvent wakeEvent_;
    std::mutex stopLock_;
    std::condition_variable stopped_;
    std::thread thread_;
};
