#pragma once

#include <cstdint>
#include <memory>

#include "voice/engine/media/Codec.h"

// ITU-T G.711 companding of 16-bit linear samples.
namespace g711 {
std::uint8_t linearToUlaw(std::int16_t sample);
std::int16_t ulawToLinear(std::uint8_t code);
std::uint8_t linearToAlaw(std::int16_t sample);
std::int16_t alawToLinear(std::uint8_t code);
}  // namespace g711

// A µ-law (iax_format::Ulaw) or A-law (iax_format::Alaw) codec: one byte per sample, stateless.
std::unique_ptr<Codec> makeG711Codec(int format);
