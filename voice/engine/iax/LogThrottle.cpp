#include "voice/engine/iax/LogThrottle.h"

#include <cstdarg>
#include <cstdio>

#include "infra/CLogger.h"

namespace iax {
namespace {
constexpr auto kThrottleWindow = std::chrono::seconds(1);
}

void LogThrottle::log(Kind kind, Clock::time_point now, const char* format, ...) {
    Window& window = windows_[kind];
    if (window.logged && now - window.lastLine < kThrottleWindow) {
        ++window.held;
        return;
    }
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (window.held > 0)
        logMessage(LogLevel::Warning, "%s (%d more like it not logged)", text, window.held);
    else
        logMessage(LogLevel::Warning, "%s", text);
    window = {now, true, 0};
}

}  // namespace iax
