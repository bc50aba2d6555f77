#pragma once

#include <array>
#include <cstdint>

// The phone's ring: 440 Hz and 480 Hz together, 2 s on and 4 s off, at 8 kHz, generated here
// so that it is part of the program.
class RingTone {
public:
    RingTone();
    // Back to the start of the first ring.
    void restart() { position_ = 0; }
    // The next `frames` samples of the looped cadence.
    void fill(std::int16_t* out, int frames);

private:
    // 440 Hz and 480 Hz both repeat every 200 samples at 8 kHz.
    static constexpr int kPeriodSamples = 200;
    std::array<std::int16_t, kPeriodSamples> period_{};
    int position_ = 0;  // within the cadence
};
