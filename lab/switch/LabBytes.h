#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Fixed-size integers in byte strings: network order (IAX2, IP, UDP) and little-endian (WAV,
// pcap). Readers expect the bytes to be there.
namespace labbytes {

inline std::uint8_t byteAt(std::string_view bytes, std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); }

inline std::uint16_t big16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(byteAt(bytes, at) << 8 | byteAt(bytes, at + 1));
}
inline std::uint32_t big32(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint32_t>(big16(bytes, at)) << 16 | big16(bytes, at + 2);
}
inline std::uint16_t little16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(byteAt(bytes, at) | byteAt(bytes, at + 1) << 8);
}
inline std::uint32_t little32(std::string_view bytes, std::size_t at) {
    return little16(bytes, at) | static_cast<std::uint32_t>(little16(bytes, at + 2)) << 16;
}

inline void appendBig16(std::string& bytes, std::uint16_t value) {
    bytes += static_cast<char>(value >> 8);
    bytes += static_cast<char>(value & 0xff);
}
inline void appendBig32(std::string& bytes, std::uint32_t value) {
    appendBig16(bytes, static_cast<std::uint16_t>(value >> 16));
    appendBig16(bytes, static_cast<std::uint16_t>(value & 0xffff));
}
inline void appendLittle16(std::string& bytes, std::uint16_t value) {
    bytes += static_cast<char>(value & 0xff);
    bytes += static_cast<char>(value >> 8);
}
inline void appendLittle32(std::string& bytes, std::uint32_t value) {
    appendLittle16(bytes, static_cast<std::uint16_t>(value & 0xffff));
    appendLittle16(bytes, static_cast<std::uint16_t>(value >> 16));
}

}  // namespace labbytes
