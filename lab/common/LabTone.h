#pragma once

#include <cstdint>
#include <vector>

// What the lab hears in a call's audio (8 kHz samples): how strongly one frequency is there.
namespace labtone {

// Power of `hertz` in the samples (Goertzel), normalised by the sample count.
double power(const std::vector<std::int16_t>& samples, double hertz);
// True when `hertz` is clearly there and clearly stronger than `other`.
bool present(const std::vector<std::int16_t>& samples, double hertz, double other);
// `seconds` of a steady tone.
std::vector<std::int16_t> make(double hertz, double seconds, std::int16_t amplitude = 8000);

}  // namespace labtone
