#include "lab/switch/LabIaxFrame.h"

#include <bit>

#include "lab/switch/LabBytes.h"
#include "lab/switch/LabIaxProtocol.h"

namespace {

constexpr std::uint16_t kFullFrameBit = 0x8000;
constexpr std::uint16_t kCallMask = 0x7fff;
constexpr std::uint8_t kSubclassExponentBit = 0x80;
constexpr std::uint8_t kTrunkCommand = 0x01;
constexpr std::size_t kVideoHeaderBytes = 6;
constexpr std::size_t kTrunkHeaderBytes = 8;

using labbytes::appendBig16;
using labbytes::appendBig32;
using labbytes::big16;

// Media frames name their format bit, which may be too large for the byte: it goes as its exponent.
bool usesExponent(std::uint8_t type) {
    return type == labiax::frame::Voice || type == labiax::frame::Video || type == labiax::frame::Image;
}

LabIaxParseResult failure(std::string error) { return {std::nullopt, std::move(error)}; }

LabIaxParseResult parseFull(std::string_view bytes) {
    if (bytes.size() < LabIaxFullFrame::kHeaderBytes)
        return failure("full frame of " + std::to_string(bytes.size()) + " bytes, shorter than its header");
    LabIaxFullFrame frame;
    frame.sourceCall = big16(bytes, 0) & kCallMask;
    frame.retransmission = (big16(bytes, 2) & kFullFrameBit) != 0;
    frame.destinationCall = big16(bytes, 2) & kCallMask;
    frame.timestamp = labbytes::big32(bytes, 4);
    frame.oseqno = static_cast<std::uint8_t>(bytes[8]);
    frame.iseqno = static_cast<std::uint8_t>(bytes[9]);
    frame.type = static_cast<std::uint8_t>(bytes[10]);
    const auto subclass = static_cast<std::uint8_t>(bytes[11]);
    if (subclass & kSubclassExponentBit && usesExponent(frame.type)) {
        const unsigned exponent = subclass & ~kSubclassExponentBit;
        if (exponent > 31) return failure("subclass exponent " + std::to_string(exponent) + " out of range");
        frame.subclass = 1u << exponent;
    } else {
        frame.subclass = subclass;
    }
    frame.payload = std::string(bytes.substr(LabIaxFullFrame::kHeaderBytes));
    if (frame.type == labiax::frame::Iax && !LabIaxElements::parse(frame.payload))
        return failure("IAX frame with a truncated information element");
    return {frame, {}};
}

LabIaxParseResult parseMeta(std::string_view bytes) {
    if (big16(bytes, 2) & kFullFrameBit) {
        if (bytes.size() < kVideoHeaderBytes) return failure("video frame shorter than its header");
        return {LabIaxMetaFrame{"video", bytes.size()}, {}};
    }
    if (static_cast<std::uint8_t>(bytes[2]) != kTrunkCommand)
        return failure("meta frame with unknown command " + std::to_string(static_cast<unsigned char>(bytes[2])));
    if (bytes.size() < kTrunkHeaderBytes) return failure("trunk frame shorter than its header");
    return {LabIaxMetaFrame{"trunk", bytes.size()}, {}};
}

}  // namespace

LabIaxElements LabIaxFullFrame::elements() const {
    if (type != labiax::frame::Iax) return {};
    return LabIaxElements::parse(payload).value_or(LabIaxElements{});
}

bool LabIaxFullFrame::isIax(std::uint32_t iaxSubclass) const {
    return type == labiax::frame::Iax && subclass == iaxSubclass;
}

std::optional<std::uint8_t> encodeLabIaxSubclass(std::uint32_t value) {
    if (value < kSubclassExponentBit) return static_cast<std::uint8_t>(value);
    if (!std::has_single_bit(value)) return std::nullopt;
    return static_cast<std::uint8_t>(kSubclassExponentBit | std::countr_zero(value));
}

std::string LabIaxFullFrame::encode() const {
    std::string bytes;
    bytes.reserve(kHeaderBytes + payload.size());
    appendBig16(bytes, static_cast<std::uint16_t>(kFullFrameBit | (sourceCall & kCallMask)));
    appendBig16(bytes, static_cast<std::uint16_t>((retransmission ? kFullFrameBit : 0) | (destinationCall & kCallMask)));
    appendBig32(bytes, timestamp);
    bytes += static_cast<char>(oseqno);
    bytes += static_cast<char>(iseqno);
    bytes += static_cast<char>(type);
    bytes += static_cast<char>(usesExponent(type) ? encodeLabIaxSubclass(subclass).value_or(0) : subclass & 0xff);
    return bytes + payload;
}

std::string LabIaxMiniFrame::encode() const {
    std::string bytes;
    appendBig16(bytes, sourceCall & kCallMask);
    appendBig16(bytes, timestamp);
    return bytes + payload;
}

LabIaxParseResult parseLabIaxDatagram(std::string_view bytes) {
    if (bytes.size() < LabIaxMiniFrame::kHeaderBytes)
        return failure("datagram of " + std::to_string(bytes.size()) + " bytes, shorter than any frame");
    const std::uint16_t first = big16(bytes, 0);
    if (first & kFullFrameBit) return parseFull(bytes);
    if (first == 0) return parseMeta(bytes);
    return {LabIaxMiniFrame{first, big16(bytes, 2), std::string(bytes.substr(LabIaxMiniFrame::kHeaderBytes))}, {}};
}
