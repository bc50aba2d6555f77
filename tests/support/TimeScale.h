#pragma once

#include "infra/Timing.h"

// Scales every interval the program waits on while it lives, then puts back the scale it found.
class ScopedTimeScale {
public:
    explicit ScopedTimeScale(double scale) : previous_(Timing::scale()) { Timing::setScale(scale); }
    ~ScopedTimeScale() { Timing::setScale(previous_); }
    ScopedTimeScale(const ScopedTimeScale&) = delete;
    ScopedTimeScale& operator=(const ScopedTimeScale&) = delete;

    void set(double scale) { Timing::setScale(scale); }

private:
    double previous_;
};
