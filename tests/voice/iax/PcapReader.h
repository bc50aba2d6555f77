#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

// The UDP payloads of a libpcap capture (classic format, either byte order; Ethernet, BSD
// loopback, Linux cooked or raw IPv4 links). Nothing when the file is not such a capture.
inline std::optional<std::vector<std::vector<std::uint8_t>>> readUdpPayloads(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (bytes.size() < 24) return std::nullopt;
    const std::uint32_t magic = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    bool swapped;
    if (magic == 0xA1B2C3D4u || magic == 0xA1B23C4Du) swapped = false;
    else if (magic == 0xD4C3B2A1u || magic == 0x4D3CB2A1u) swapped = true;
    else return std::nullopt;
    const auto u32 = [&](std::size_t at) {
        const std::uint32_t little = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                     static_cast<std::uint32_t>(bytes[at + 3]) << 24;
        return swapped ? __builtin_bswap32(little) : little;
    };
    std::size_t linkHeader;
    switch (u32(20)) {
    case 0: case 108: linkHeader = 4; break;  // BSD loopback
    case 1: linkHeader = 14; break;           // Ethernet
    case 101: linkHeader = 0; break;          // raw IP
    case 113: linkHeader = 16; break;         // Linux cooked
    default: return std::nullopt;
    }
    std::vector<std::vector<std::uint8_t>> payloads;
    for (std::size_t at = 24; at + 16 <= bytes.size();) {
        const std::uint32_t captured = u32(at + 8);
        const std::size_t packet = at + 16;
        at = packet + captured;
        if (at > bytes.size()) return std::nullopt;
        const std::size_t ip = packet + linkHeader;
        if (captured < linkHeader + 28 || (bytes[ip] >> 4) != 4 || bytes[ip + 9] != 17) continue;  // IPv4 UDP only
        const std::size_t udp = ip + (bytes[ip] & 0x0F) * 4;
        const std::size_t udpLength = bytes[udp + 4] << 8 | bytes[udp + 5];
        if (udpLength < 8 || udp + udpLength > at) return std::nullopt;
        payloads.emplace_back(bytes.begin() + static_cast<long>(udp + 8), bytes.begin() + static_cast<long>(udp + udpLength));
    }
    return payloads;
}
