#include "lab/switch/LabG711.h"

namespace {

constexpr int kUlawBias = 0x84;
constexpr int kUlawClip = 32635;

// The segment of a magnitude: the number of its significant bits above the lowest `floorBits`.
int segment(int magnitude, int floorBits) {
    int segment = 0;
    for (int bound = 1 << floorBits; magnitude >= bound && segment < 7; bound <<= 1) ++segment;
    return segment;
}

}  // namespace

namespace labg711 {

std::uint8_t linearToUlaw(std::int16_t sample) {
    int magnitude = sample;
    const int sign = magnitude < 0 ? 0x80 : 0;
    if (sign) magnitude = -magnitude;
    if (magnitude > kUlawClip) magnitude = kUlawClip;
    magnitude += kUlawBias;
    const int exponent = segment(magnitude, 8);
    const int mantissa = (magnitude >> (exponent + 3)) & 0x0f;
    return static_cast<std::uint8_t>(~(sign | exponent << 4 | mantissa));
}

std::int16_t ulawToLinear(std::uint8_t code) {
    const int inverted = ~code & 0xff;
    const int exponent = (inverted >> 4) & 0x07;
    const int magnitude = ((((inverted & 0x0f) << 3) + kUlawBias) << exponent) - kUlawBias;
    return static_cast<std::int16_t>(inverted & 0x80 ? -magnitude : magnitude);
}

std::uint8_t linearToAlaw(std::int16_t sample) {
    int magnitude = sample >> 3;  // A-law works on 13 bits
    int mask = 0xd5;
    if (magnitude < 0) {
        mask = 0x55;
        magnitude = -magnitude - 1;
    }
    const int exponent = segment(magnitude, 5);
    const int mantissa = exponent < 2 ? (magnitude >> 1) & 0x0f : (magnitude >> exponent) & 0x0f;
    return static_cast<std::uint8_t>((exponent << 4 | mantissa) ^ mask);
}

std::int16_t alawToLinear(std::uint8_t code) {
    const int value = code ^ 0x55;
    const int exponent = (value & 0x70) >> 4;
    int magnitude = (value & 0x0f) << 4;
    if (exponent == 0)
        magnitude += 8;
    else
        magnitude = (magnitude + 0x108) << (exponent - 1);
    return static_cast<std::int16_t>(value & 0x80 ? magnitude : -magnitude);
}

}  // namespace labg711
