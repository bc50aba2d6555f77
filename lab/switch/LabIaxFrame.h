#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "lab/switch/LabIaxElements.h"

// An IAX2 full frame: the reliable kind, with sequence numbers and a 32-bit timestamp.
struct LabIaxFullFrame {
    static constexpr std::size_t kHeaderBytes = 12;

    std::uint16_t sourceCall = 0;       // 15 bits
    std::uint16_t destinationCall = 0;  // 15 bits
    bool retransmission = false;
    std::uint32_t timestamp = 0;
    std::uint8_t oseqno = 0;
    std::uint8_t iseqno = 0;
    std::uint8_t type = 0;
    std::uint32_t subclass = 0;  // the value itself; a media format above 127 goes on the wire as its exponent
    std::string payload;         // information elements of IAX frames, media or text of others

    // The elements of an IAX frame (empty when the payload holds none that parse).
    LabIaxElements elements() const;
    bool isIax(std::uint32_t iaxSubclass) const;
    std::string encode() const;
};

// A mini frame: voice on an answered call, with the low 16 bits of the timestamp.
struct LabIaxMiniFrame {
    static constexpr std::size_t kHeaderBytes = 4;

    std::uint16_t sourceCall = 0;
    std::uint16_t timestamp = 0;
    std::string payload;

    std::string encode() const;
};

// A meta frame (video mini frame or trunk frame): recognised, not used by the switch.
struct LabIaxMetaFrame {
    std::string kind;  // "video" or "trunk"
    std::size_t size = 0;
};

using LabIaxDatagram = std::variant<LabIaxFullFrame, LabIaxMiniFrame, LabIaxMetaFrame>;

struct LabIaxParseResult {
    std::optional<LabIaxDatagram> datagram;
    std::string error;  // why the bytes are no IAX2 datagram, when datagram is empty
};

// Reads one UDP datagram. IAX frames must carry well-formed information elements.
LabIaxParseResult parseLabIaxDatagram(std::string_view bytes);
// The wire form of a media frame's subclass: itself below 128, else 0x80 | exponent of a power of two.
std::optional<std::uint8_t> encodeLabIaxSubclass(std::uint32_t value);
