#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "core/AutoResetEvent.h"
#include "infra/Guarded.h"

// Enforces the wrap-up limit the CTI server sets: when the agent stays in wrap-up longer
// than allowed, the action after time-out (Ready, logged out, or not ready) is applied. The
// checker's thread sleeps until the agent is in a wrap-up that the time-out applies to.
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
    // Sleeps until the agent is in a wrap-up with the time-out enabled; false once stopped.
    bool waitForTimedWrapUp();
    // One wait for the end of wrap-up, and the action when it does not come.
    void checkWrapUp();
    // Sleeps, or less when the checker is stopped.
    void pause();
    // Changes the checker's state under the lock its thread sleeps on, then wakes it.
    template <class Change>
    void change(Change&& apply);

    Agent& agent_;
    std::atomic<bool> timeOutEnabled_{false};
    std::atomic<int> maxWrapUp_{0};
    Guarded<std::string> action_;
    std::atomic<bool> inWrapUp_{false};
    std::atomic<bool> stop_{false};
    AutoResetEvent wakeEvent_;
    std::mutex stateLock_;
    std::condition_variable stateChanged_;  // stop, wrap-up or the settings changed
    std::thread thread_;
};
