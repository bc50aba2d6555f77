#pragma once

#include <chrono>

// How long the lab tests give a peer: for what must happen, and for what must not.
inline constexpr std::chrono::milliseconds kWait{3000};
inline constexpr std::chrono::milliseconds kQuiet{100};
