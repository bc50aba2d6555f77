#include "voice/engine/iax/LogThrottle.h"

#include <cstdarg>
#include <cstdio>

namespace iax {
namespace {
constexpr auto kThrottleWindow = std::chrono::seconds(1);
constexpr int kExchangeLinesPerWindow = 20;

int budget(LogThrottle::Kind kind) { return kind == LogThrottle::Exchange ? kExchangeLinesPerWindow : 1; }
}  // namespace

bool LogThrottle::log(Kind kind, LogLevel level, Clock::time_point now, const char* format, ...) {
    Window& window = windows_[kind];
    if (!window.open || now - window.start >= kThrottleWindow) {
        window.start = now;
        window.open = true;
        window.lines = 0;
    }
    if (window.lines >= budget(kind)) {
        ++window.held;
        return false;
    }
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (window.held > 0)
        logMessage(level, "%s (%d more like it not logged)", text, window.held);
    else
        logMessage(level, "%s", text);
    ++window.lines;
    window.held = 0;
    return true;
}

}  // namespace iax
