#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The two frame layouts of an IAX2 datagram: the 12-byte full frame (reliable, sequenced)
// and the 4-byte mini frame that carries voice between full voice frames.
namespace iax {

inline constexpr std::size_t kFullHeaderBytes = 12;
inline constexpr std::size_t kMiniHeaderBytes = 4;
// Larger datagrams are not IAX2 as the phone speaks it and are dropped unread.
inline constexpr std::size_t kMaxDatagramBytes = 4096;

struct FullFrame {
    std::uint16_t sourceCall = 0;
    std::uint16_t destinationCall = 0;
    bool retransmitted = false;
    std::uint32_t timestamp = 0;
    std::uint8_t oseq = 0;
    std::uint8_t iseq = 0;
    std::uint8_t type = 0;
    std::uint32_t subclass = 0;            // uncompressed; 0xFF stays 0xFF (the "-1" some peers send)
    std::span<const std::uint8_t> payload;  // a view into the datagram
};

struct MiniFrame {
    std::uint16_t sourceCall = 0;
    std::uint16_t timestamp = 0;  // the low 16 bits of the call's timestamp
    std::span<const std::uint8_t> payload;
};

struct Datagram {
    enum class Kind { Full, Mini, Meta, Malformed };
    Kind kind = Kind::Malformed;
    FullFrame full;
    MiniFrame mini;
    const char* problem = "";  // why a datagram is Malformed
};

// Splits one received datagram; the frames view `bytes`, which must outlive them.
Datagram parseDatagram(std::span<const std::uint8_t> bytes);

// A subclass value as the wire carries it: values below 0x80 as they are, powers of two as
// 0x80 | log2 (the C bit), 0xFF as it is. `value` must be one of these.
std::uint8_t compressSubclass(std::uint32_t value);

std::vector<std::uint8_t> encodeFullFrame(const FullFrame& frame);
std::vector<std::uint8_t> encodeMiniFrame(std::uint16_t sourceCall, std::uint16_t timestamp,
                                          std::span<const std::uint8_t> payload);
// Sets the retransmission bit of an encoded full frame.
void markRetransmitted(std::vector<std::uint8_t>& encodedFullFrame);

}  // namespace iax
