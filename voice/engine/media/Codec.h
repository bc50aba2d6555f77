#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// IAX2 media format bits of the codecs the phone knows by name.
namespace iax_format {
inline constexpr int Gsm = 2;
inline constexpr int Ulaw = 4;
inline constexpr int Alaw = 8;
inline constexpr int Speex = 512;
inline constexpr int Ilbc = 1024;
}  // namespace iax_format

// One voice codec at 8 kHz mono. Each instance keeps the state of one direction of one call.
class Codec {
public:
    virtual ~Codec() = default;
    virtual int format() const = 0;
    // Samples in one encoded frame (160 for 20 ms).
    virtual int frameSamples() const = 0;
    // Encodes exactly frameSamples() samples and appends the bytes to `out`.
    virtual void encode(const std::int16_t* samples, std::vector<std::uint8_t>& out) = 0;
    // Decodes one payload (one or more whole frames) and appends the samples to `out`; false
    // when the payload is malformed (nothing is appended then).
    virtual bool decode(const std::uint8_t* payload, std::size_t size, std::vector<std::int16_t>& out) = 0;
};

// A new codec for a format bit, or nullptr when the engine cannot encode and decode it.
std::unique_ptr<Codec> makeCodec(int format);
// The format bits the engine can encode and decode (offered as capability in calls).
int supportedFormats();
