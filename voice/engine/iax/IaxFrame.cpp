#include "voice/engine/iax/IaxFrame.h"

#include <bit>
#include <optional>

namespace iax {
namespace {

constexpr std::uint16_t kFullBit = 0x8000;
constexpr std::uint16_t kCallMask = 0x7FFF;
constexpr std::uint8_t kSubclassPowerBit = 0x80;
constexpr std::uint8_t kSubclassMinusOne = 0xFF;

std::uint16_t read16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] << 8 | at[1]); }
std::uint32_t read32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
           static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}
void append16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}
void append32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    append16(out, static_cast<std::uint16_t>(value >> 16));
    append16(out, static_cast<std::uint16_t>(value));
}

std::optional<std::uint32_t> uncompressSubclass(std::uint8_t wire) {
    if (!(wire & kSubclassPowerBit) || wire == kSubclassMinusOne) return wire;
    const int shift = wire & ~kSubclassPowerBit;
    if (shift > 31) return std::nullopt;
    return std::uint32_t{1} << shift;
}

Datagram malformed(const char* problem) {
    Datagram datagram;
    datagram.problem = problem;
    return datagram;
}

Datagram parseFull(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kFullHeaderBytes) return malformed("shorter than a full frame header");
    const std::uint8_t* at = bytes.data();
    const auto subclass = uncompressSubclass(at[11]);
    if (!subclass) return malformed("subclass exponent out of range");
    Datagram datagram;
    datagram.kind = Datagram::Kind::Full;
    FullFrame& frame = datagram.full;
    frame.sourceCall = read16(at) & kCallMask;
    frame.retransmitted = (read16(at + 2) & kFullBit) != 0;
    frame.destinationCall = read16(at + 2) & kCallMask;
    frame.timestamp = read32(at + 4);
    frame.oseq = at[8];
    frame.iseq = at[9];
    frame.type = at[10];
    frame.subclass = *subclass;
    frame.payload = bytes.subspan(kFullHeaderBytes);
    return datagram;
}

}  // namespace

Datagram parseDatagram(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kMiniHeaderBytes) return malformed("shorter than a mini frame header");
    const std::uint16_t first = read16(bytes.data());
    if (first & kFullBit) return parseFull(bytes);
    Datagram datagram;
    if (first == 0) {  // meta frames (trunk, video) start with a zero call number
        datagram.kind = Datagram::Kind::Meta;
        return datagram;
    }
    datagram.kind = Datagram::Kind::Mini;
    datagram.mini.sourceCall = first;
    datagram.mini.timestamp = read16(bytes.data() + 2);
    datagram.mini.payload = bytes.subspan(kMiniHeaderBytes);
    return datagram;
}

std::uint8_t compressSubclass(std::uint32_t value) {
    if (value < kSubclassPowerBit || value == kSubclassMinusOne) return static_cast<std::uint8_t>(value);
    return static_cast<std::uint8_t>(kSubclassPowerBit | std::countr_zero(value));
}

std::vector<std::uint8_t> encodeFullFrame(const FullFrame& frame) {
    std::vector<std::uint8_t> out;
    out.reserve(kFullHeaderBytes + frame.payload.size());
    append16(out, static_cast<std::uint16_t>(kFullBit | (frame.sourceCall & kCallMask)));
    append16(out, static_cast<std::uint16_t>((frame.retransmitted ? kFullBit : 0) | (frame.destinationCall & kCallMask)));
    append32(out, frame.timestamp);
    out.push_back(frame.oseq);
    out.push_back(frame.iseq);
    out.push_back(frame.type);
    out.push_back(compressSubclass(frame.subclass));
    out.insert(out.end(), frame.payload.begin(), frame.payload.end());
    return out;
}

std::vector<std::uint8_t> encodeMiniFrame(std::uint16_t sourceCall, std::uint16_t timestamp,
                                          std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> out;
    out.reserve(kMiniHeaderBytes + payload.size());
    append16(out, sourceCall & kCallMask);
    append16(out, timestamp);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

void markRetransmitted(std::vector<std::uint8_t>& encodedFullFrame) {
    if (encodedFullFrame.size() >= kFullHeaderBytes) encodedFullFrame[2] |= 0x80;
}

}  // namespace iax
