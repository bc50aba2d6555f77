#pragma once

#include <array>

#include "infra/CLogger.h"
#include "voice/engine/iax/IaxDialog.h"

namespace iax {

// Keeps floods of datagrams from flooding the log: every line a received datagram causes goes
// through here. Each kind of line has a budget of lines a second, one for bad, stray or
// unhandled datagrams and more for the calls and registrations a peer drives, so a normal
// exchange is logged whole; lines beyond the budget are counted, and the next line of the kind
// says how many were left out.
class LogThrottle {
public:
    enum Kind { Malformed, Stray, Sequence, Voice, UnhandledNoCall, UnhandledOnCall, Exchange, kKinds };

    // Whether the line went out.
    bool log(Kind kind, LogLevel level, Clock::time_point now, const char* format, ...)
        __attribute__((format(printf, 5, 6)));

private:
    struct Window {
        Clock::time_point start{};
        bool open = false;
        int lines = 0;  // logged in this window
        int held = 0;   // left out since the last line logged
    };
    std::array<Window, kKinds> windows_;
};

}  // namespace iax
