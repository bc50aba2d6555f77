#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

// Test signals and measurements at 8 kHz.
namespace signals {

inline std::vector<std::int16_t> tone(double hertz, double amplitude, int samples, int rate = 8000, int start = 0) {
    std::vector<std::int16_t> out(samples);
    for (int n = 0; n < samples; ++n)
        out[n] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hertz * (n + start) / rate)));
    return out;
}

inline double rms(const std::int16_t* samples, std::size_t count) {
    if (count == 0) return 0;
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += static_cast<double>(samples[i]) * samples[i];
    return std::sqrt(sum / static_cast<double>(count));
}
inline double rms(const std::vector<std::int16_t>& samples) { return rms(samples.data(), samples.size()); }

// Amplitude of the `hertz` component (Goertzel), comparable with a sine's peak amplitude.
inline double amplitudeAt(const std::int16_t* samples, std::size_t count, double hertz, int rate = 8000) {
    const double w = 2 * std::numbers::pi * hertz / rate;
    double re = 0, im = 0;
    for (std::size_t n = 0; n < count; ++n) {
        re += samples[n] * std::cos(w * static_cast<double>(n));
        im -= samples[n] * std::sin(w * static_cast<double>(n));
    }
    return 2 * std::hypot(re, im) / static_cast<double>(count);
}
inline double amplitudeAt(const std::vector<std::int16_t>& samples, double hertz, int rate = 8000) {
    return amplitudeAt(samples.data(), samples.size(), hertz, rate);
}

// Signal-to-noise ratio in dB of `decoded` against `original`, at the codec delay (0..maxLag
// samples) that fits best; the first `skip` samples (the codec settling) are left out.
inline double snrDb(const std::vector<std::int16_t>& original, const std::vector<std::int16_t>& decoded, int maxLag,
                    int skip) {
    double best = -1e9;
    for (int lag = 0; lag <= maxLag; ++lag) {
        double signal = 0, noise = 0;
        for (std::size_t n = skip; n + lag < decoded.size() && n < original.size(); ++n) {
            const double error = decoded[n + lag] - original[n];
            signal += static_cast<double>(original[n]) * original[n];
            noise += error * error;
        }
        best = std::max(best, noise > 0 ? 10 * std::log10(signal / noise) : 200.0);  // 200: identical
    }
    return best;
}

}  // namespace signals
