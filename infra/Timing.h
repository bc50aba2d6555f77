#pragma once

#include <chrono>

// Every interval the program waits on lives here with its production value. Tests and lab
// runs scale all of them down at once (ORVANE_TIME_SCALE, or Timing::setScale) instead of
// sleeping real seconds. Counts (retries, polls) are not intervals and are not scaled.
namespace intervals {
using namespace std::chrono_literals;

inline constexpr std::chrono::milliseconds kEventQueuePoll = 5ms;        // dispatcher wake-up wait
inline constexpr std::chrono::milliseconds kEventQueueDrainPoll = 500ms; // clean close, queue size polls
inline constexpr int kEventQueueDrainPolls = 60;                         // polls before giving up (61 sleeps)

// Lab peers (lab/), the simulated outside world.
inline constexpr std::chrono::milliseconds kLabAppletHeartbeat = 10s;     // the applet's "58", well inside the 30 s rule
inline constexpr std::chrono::milliseconds kLabNotReadyPairWindow = 1s;   // a reasonless not-ready may still get its copy with a reason
}  // namespace intervals

class Timing {
public:
    // The interval to wait in this run: the production value times the scale.
    static std::chrono::microseconds scaled(std::chrono::microseconds production);
    // 1.0 is production; 0.01 makes a 30 s wait last 300 ms.
    static void setScale(double scale);
    static double scale();
    // Reads ORVANE_TIME_SCALE from the environment when set to a number in (0, 1].
    static void setScaleFromEnvironment();
};
