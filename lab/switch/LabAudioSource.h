#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// What the far party says on a call: a WAV file's samples played in a loop, a steady tone, or
// silence (a tone of 0 Hz, or no samples). Each call plays its own copy from the start.
class LabAudioSource {
public:
    static LabAudioSource tone(double hertz, std::int16_t amplitude = kToneAmplitude);
    // An empty sample list plays silence.
    static LabAudioSource samples(std::vector<std::int16_t> samples);

    // Fills the next `count` samples.
    void next(std::int16_t* out, std::size_t count);

    static constexpr std::int16_t kToneAmplitude = 8000;

private:
    double hertz_ = 0;
    std::int16_t amplitude_ = 0;
    double phase_ = 0;
    std::shared_ptr<const std::vector<std::int16_t>> samples_;
    std::size_t position_ = 0;
};
