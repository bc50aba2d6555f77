#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class AgentWindow;

// The call-duration clock on the main window's timer label: "0:05:07", counting up once a
// second while a call is recorded.
class CTimer {
public:
    explicit CTimer(AgentWindow& window);
    ~CTimer();
    CTimer(const CTimer&) = delete;
    CTimer& operator=(const CTimer&) = delete;

    void start();
    void stop();
    // Stops the clock, zeroes it and clears the label.
    void reset();

    bool running() const { return !stop_; }

    static std::string format(int hours, int minutes, int seconds);

private:
    void timerThread();
    void stopAndJoin();

    AgentWindow& window_;
    std::atomic<bool> stop_{true};
    std::mutex lock_;
    std::condition_variable wake_;
    std::thread thread_;
};
