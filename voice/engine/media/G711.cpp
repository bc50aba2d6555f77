#include "voice/engine/media/G711.h"

#include <array>

namespace g711 {
namespace {

constexpr int kUlawBias = 0x84;
constexpr int kUlawClip = 32635;

// Index of the highest set bit of `value` (value > 0).
constexpr int highestBit(int value) {
    int bit = 0;
    while (value >>= 1) ++bit;
    return bit;
}

template <std::int16_t (*Decode)(std::uint8_t)>
constexpr std::array<std::int16_t, 256> decodeTable() {
    std::array<std::int16_t, 256> table{};
    for (int code = 0; code < 256; ++code) table[code] = Decode(static_cast<std::uint8_t>(code));
    return table;
}

constexpr std::int16_t computeUlaw(std::uint8_t code) {
    const int inverted = ~code & 0xFF;
    const int exponent = (inverted >> 4) & 0x07;
    const int magnitude = ((((inverted & 0x0F) << 3) + kUlawBias) << exponent) - kUlawBias;
    return static_cast<std::int16_t>((inverted & 0x80) ? -magnitude : magnitude);
}

constexpr std::int16_t computeAlaw(std::uint8_t code) {
    const int value = code ^ 0x55;
    const int exponent = (value >> 4) & 0x07;
    const int mantissa = value & 0x0F;
    const int magnitude = exponent == 0 ? (mantissa << 1) + 1 : ((mantissa | 0x10) << exponent) + (1 << (exponent - 1));
    return static_cast<std::int16_t>((value & 0x80) ? magnitude << 3 : -(magnitude << 3));
}

constexpr std::array<std::int16_t, 256> ulawTable = decodeTable<computeUlaw>();
constexpr std::array<std::int16_t, 256> alawTable = decodeTable<computeAlaw>();

}  // namespace

std::uint8_t linearToUlaw(std::int16_t sample) {
    const int sign = sample < 0 ? 0x80 : 0x00;
    int magnitude = sample < 0 ? -static_cast<int>(sample) : sample;
    if (magnitude > kUlawClip) magnitude = kUlawClip;
    magnitude += kUlawBias;
    const int exponent = highestBit(magnitude) - 7;
    const int mantissa = (magnitude >> (exponent + 3)) & 0x0F;
    return static_cast<std::uint8_t>(~(sign | (exponent << 4) | mantissa) & 0xFF);
}

std::int16_t ulawToLinear(std::uint8_t code) { return ulawTable[code]; }

std::uint8_t linearToAlaw(std::int16_t sample) {
    // Negative samples are coded by their one's complement, which keeps the code symmetric.
    const int sign = sample >= 0 ? 0x80 : 0x00;
    const int magnitude = (sample >= 0 ? sample : ~sample) >> 3;  // 12-bit magnitude
    int code = 0;
    if (magnitude < 32) {
        code = magnitude >> 1;
    } else {
        const int exponent = highestBit(magnitude) - 4;
        code = (exponent << 4) | ((magnitude >> exponent) & 0x0F);
    }
    return static_cast<std::uint8_t>((sign | code) ^ 0x55);
}

std::int16_t alawToLinear(std::uint8_t code) { return alawTable[code]; }

}  // namespace g711

namespace {

class G711Codec final : public Codec {
public:
    explicit G711Codec(int format) : format_(format) {}

    int format() const override { return format_; }
    int frameSamples() const override { return 160; }

    void encode(const std::int16_t* samples, std::vector<std::uint8_t>& out) override {
        const bool ulaw = format_ == iax_format::Ulaw;
        for (int i = 0; i < frameSamples(); ++i)
            out.push_back(ulaw ? g711::linearToUlaw(samples[i]) : g711::linearToAlaw(samples[i]));
    }

    // Any non-empty payload is whole frames: every byte is one sample.
    bool decode(const std::uint8_t* payload, std::size_t size, std::vector<std::int16_t>& out) override {
        if (size == 0) return false;
        const bool ulaw = format_ == iax_format::Ulaw;
        out.reserve(out.size() + size);
        for (std::size_t i = 0; i < size; ++i)
            out.push_back(ulaw ? g711::ulawToLinear(payload[i]) : g711::alawToLinear(payload[i]));
        return true;
    }

private:
    const int format_;
};

}  // namespace

std::unique_ptr<Codec> makeG711Codec(int format) {
    if (format != iax_format::Ulaw && format != iax_format::Alaw) return nullptr;
    return std::make_unique<G711Codec>(format);
}
