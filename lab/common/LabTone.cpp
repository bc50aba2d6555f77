#include "lab/common/LabTone.h"

#include <cmath>
#include <numbers>

namespace labtone {

namespace {
constexpr double kSampleRate = 8000;
constexpr double kDominance = 20;       // against the other frequency
constexpr double kAudiblePower = 1000;  // far above the rounding noise of G.711 silence
constexpr std::size_t kShortestSample = 800;  // 100 ms
}  // namespace

double power(const std::vector<std::int16_t>& samples, double hertz) {
    if (samples.empty()) return 0;
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * hertz / kSampleRate);
    double previous = 0, beforePrevious = 0;
    for (const std::int16_t sample : samples) {
        const double current = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double total = previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    const double count = static_cast<double>(samples.size());
    return total / (count * count);
}

bool present(const std::vector<std::int16_t>& samples, double hertz, double other) {
    if (samples.size() < kShortestSample) return false;
    const double wanted = power(samples, hertz);
    return wanted > kAudiblePower && wanted > kDominance * power(samples, other);
}

std::vector<std::int16_t> make(double hertz, double seconds, std::int16_t amplitude) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * kSampleRate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(amplitude * std::sin(2 * std::numbers::pi * hertz * static_cast<double>(i) / kSampleRate));
    return samples;
}

}  // namespace labtone
