#pragma once

#include <cstdint>

// G.711 companding, the lab's own: 16-bit linear samples to and from µ-law and A-law bytes.
namespace labg711 {
std::uint8_t linearToUlaw(std::int16_t sample);
std::int16_t ulawToLinear(std::uint8_t code);
std::uint8_t linearToAlaw(std::int16_t sample);
std::int16_t alawToLinear(std::uint8_t code);
}  // namespace labg711
