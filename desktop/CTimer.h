#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class AgentWindow;

// The call-duration clock on the main window's timer label: "0:05:07", counting up once a
// second while a call is recorded. One thread lives as long as the clock and sleeps while it
// is stopped, so start, stop and reset may come from any thread at any time.
class CTimer {
public:
    explicit CTimer(AgentWindow& window);
    ~CTimer();
    CTimer(const CTimer&) = delete;
    CTimer& operator=(const CTimer&) = delete;

    // Starts counting from zero (again, when it was running).
    void start();
    void stop();
    // Stops the clock, zeroes it and clears the label.
    void reset();

    bool running() const;

    static std::string format(int hours, int minutes, int seconds);

private:
    void timerThread();
    // Counts one run, from its start until it is stopped or restarted; called with lock_ held.
    void count(std::unique_lock<std::mutex>& lock);

    AgentWindow& window_;
    mutable std::mutex lock_;  // the state below, and the label while the clock shows it
    std::condition_variable changed_;
    bool running_ = false;
    unsigned runs_ = 0;  // starts so far: a start during a run begins a new one
    bool ending_ = false;
    std::thread thread_;
};
