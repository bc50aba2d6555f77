#pragma once

#include <algorithm>
#include <chrono>
#include <climits>

// The poll() timeout that wakes a peer thread at `due`: 0 when it has passed, never more than
// poll() can take.
inline int pollTimeoutMs(std::chrono::steady_clock::time_point due) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::clamp<decltype(wait)>(wait, 0, INT_MAX));
}
