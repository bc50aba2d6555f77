#include "voice/engine/media/RingTone.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr int kRingRate = 8000;
constexpr int kOnSamples = 2 * kRingRate;
constexpr int kCadenceSamples = 6 * kRingRate;
constexpr int kRampSamples = 80;     // 10 ms fade at both ends of a ring, against clicks
constexpr double kToneLevel = 8000;  // each tone's amplitude; the pair peaks at about half of full scale
}  // namespace

RingTone::RingTone() {
    for (int n = 0; n < kPeriodSamples; ++n) {
        const double t = static_cast<double>(n) / kRingRate;
        const double value = kToneLevel * (std::sin(2 * std::numbers::pi * 440 * t) + std::sin(2 * std::numbers::pi * 480 * t));
        period_[n] = static_cast<std::int16_t>(std::lround(value));
    }
}

void RingTone::fill(std::int16_t* out, int frames) {
    for (int i = 0; i < frames; ++i, position_ = (position_ + 1) % kCadenceSamples) {
        if (position_ >= kOnSamples) {
            out[i] = 0;
            continue;
        }
        const int edge = std::min(position_, kOnSamples - 1 - position_);
        const int sample = period_[position_ % kPeriodSamples];
        out[i] = static_cast<std::int16_t>(edge < kRampSamples ? sample * edge / kRampSamples : sample);
    }
}
