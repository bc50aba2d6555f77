#pragma once

#include <array>

#include "voice/engine/iax/IaxDialog.h"

namespace iax {

// Keeps floods of bad or stray datagrams from flooding the log: at most one line a second
// per kind, with a count of the lines held back.
class LogThrottle {
public:
    enum Kind { Malformed, Stray, Sequence, Voice, kKinds };

    void log(Kind kind, Clock::time_point now, const char* format, ...) __attribute__((format(printf, 4, 5)));

private:
    struct Window {
        Clock::time_point lastLine{};
        bool logged = false;
        int held = 0;
    };
    std::array<Window, kKinds> windows_;
};

}  // namespace iax
