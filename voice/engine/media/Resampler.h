#pragma once

#include <cstdint>
#include <vector>

#include "voice/engine/media/SampleFifo.h"

// Converts a stream of samples between two rates by band-limited interpolation: a windowed
// sinc low-pass at 45 % of the lower rate (telephone band kept, images and aliases removed),
// read from a table. Memory is fixed at construction; process() never allocates.
class Resampler {
public:
    Resampler(int inputRate, int outputRate, int maxChunk);

    // Converts `count` input samples and appends the output to `out`.
    void process(const std::int16_t* samples, int count, SampleFifo& out);
    // Input samples that an output sample waits for (the filter's delay).
    int delaySamples() const { return static_cast<int>(halfWidth_) + 1; }

private:
    void appendInput(const std::int16_t* samples, int count);
    void produce(SampleFifo& out);
    float kernel(double distance) const;

    const double step_;       // input samples per output sample
    const double crossings_;  // kernel zero crossings per input sample
    const double halfWidth_;  // kernel reach, in input samples
    std::vector<float> table_;
    std::vector<float> history_;
    std::size_t filled_ = 0;
    double position_ = 0;  // the next output sample's time, in input samples from history_[0]
    const int maxChunk_;
};
