#include "lab/switch/LabAudioSource.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "lab/switch/LabWav.h"

LabAudioSource LabAudioSource::tone(double hertz, std::int16_t amplitude) {
    LabAudioSource source;
    source.hertz_ = hertz;
    source.amplitude_ = amplitude;
    return source;
}

LabAudioSource LabAudioSource::samples(std::vector<std::int16_t> samples) {
    LabAudioSource source;
    if (!samples.empty()) source.samples_ = std::make_shared<const std::vector<std::int16_t>>(std::move(samples));
    return source;
}

void LabAudioSource::next(std::int16_t* out, std::size_t count) {
    if (samples_) {
        for (std::size_t index = 0; index < count; ++index) {
            out[index] = (*samples_)[position_];
            position_ = (position_ + 1) % samples_->size();
        }
        return;
    }
    if (hertz_ <= 0) {
        std::fill(out, out + count, std::int16_t{0});
        return;
    }
    const double step = 2 * std::numbers::pi * hertz_ / labwav::kSampleRate;
    for (std::size_t index = 0; index < count; ++index) {
        out[index] = static_cast<std::int16_t>(std::lround(amplitude_ * std::sin(phase_)));
        phase_ = std::fmod(phase_ + step, 2 * std::numbers::pi);
    }
}
