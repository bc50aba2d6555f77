#include "voice/engine/media/Resampler.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
constexpr double kCutoff = 0.45;     // of the lower rate
constexpr int kZeroCrossings = 16;   // each side of the kernel
constexpr int kTableSteps = 256;     // table entries per zero crossing

// sinc(u) under a Blackman window that closes at kZeroCrossings.
double windowedSinc(double u) {
    if (u == 0) return 1.0;
    const double t = u / kZeroCrossings;
    const double window = 0.42 + 0.5 * std::cos(std::numbers::pi * t) + 0.08 * std::cos(2 * std::numbers::pi * t);
    return std::sin(std::numbers::pi * u) / (std::numbers::pi * u) * window;
}
}  // namespace

Resampler::Resampler(int inputRate, int outputRate, int maxChunk)
    : step_(static_cast<double>(inputRate) / outputRate),
      crossings_(2 * kCutoff * std::min(inputRate, outputRate) / inputRate),
      halfWidth_(kZeroCrossings / crossings_),
      table_(kZeroCrossings * kTableSteps + 2),
      history_(static_cast<std::size_t>(2 * halfWidth_) + 4 + maxChunk),
      maxChunk_(maxChunk) {
    for (std::size_t i = 0; i < table_.size(); ++i)
        table_[i] = static_cast<float>(crossings_ * windowedSinc(static_cast<double>(i) / kTableSteps));
    // Silence before the first sample, so that the first output has its full past.
    filled_ = static_cast<std::size_t>(std::ceil(halfWidth_));
    position_ = static_cast<double>(filled_);
}

void Resampler::process(const std::int16_t* samples, int count, SampleFifo& out) {
    for (int done = 0; done < count;) {
        const int chunk = std::min(maxChunk_, count - done);
        appendInput(samples + done, chunk);
        produce(out);
        done += chunk;
    }
}

void Resampler::appendInput(const std::int16_t* samples, int count) {
    std::copy(samples, samples + count, history_.begin() + static_cast<std::ptrdiff_t>(filled_));
    filled_ += count;
}

void Resampler::produce(SampleFifo& out) {
    while (position_ + halfWidth_ < static_cast<double>(filled_)) {
        const auto first = static_cast<std::size_t>(std::ceil(position_ - halfWidth_));
        const auto last = static_cast<std::size_t>(position_ + halfWidth_);
        double sum = 0;
        for (std::size_t k = first; k <= last; ++k) sum += history_[k] * kernel(position_ - static_cast<double>(k));
        const auto sample = static_cast<std::int16_t>(std::clamp(std::lround(sum), -32768L, 32767L));
        out.push(&sample, 1);
        position_ += step_;
    }
    // Keep only the past that later outputs still reach.
    const auto unused = static_cast<std::size_t>(std::max(0.0, std::floor(position_ - halfWidth_)));
    std::copy(history_.begin() + static_cast<std::ptrdiff_t>(unused), history_.begin() + static_cast<std::ptrdiff_t>(filled_),
              history_.begin());
    filled_ -= unused;
    position_ -= static_cast<double>(unused);
}

float Resampler::kernel(double distance) const {
    const double index = std::abs(distance) * crossings_ * kTableSteps;
    const auto below = static_cast<std::size_t>(index);
    if (below + 1 >= table_.size()) return 0.0f;
    const auto fraction = static_cast<float>(index - static_cast<double>(below));
    return table_[below] + (table_[below + 1] - table_[below]) * fraction;
}
