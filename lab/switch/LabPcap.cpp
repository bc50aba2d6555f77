#include "lab/switch/LabPcap.h"

#include "lab/switch/LabBytes.h"

#include <chrono>
#include <fstream>
#include <optional>

namespace {

constexpr std::uint32_t kMicrosecondMagic = 0xa1b2c3d4;
constexpr std::uint32_t kNanosecondMagic = 0xa1b23c4d;
constexpr std::size_t kFileHeaderBytes = 24;
constexpr std::size_t kRecordHeaderBytes = 16;
constexpr std::uint32_t kLargestRecordBytes = 262144;

constexpr std::uint32_t kLinkNull = 0;
constexpr std::uint32_t kLinkEthernet = 1;
constexpr std::uint32_t kLinkRaw = 101;
constexpr std::uint32_t kLinkLinuxCooked = 113;

constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeVlan = 0x8100;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::size_t kUdpHeaderBytes = 8;
constexpr std::size_t kIpv4HeaderBytes = 20;

using labbytes::appendBig16;
using labbytes::appendBig32;
using labbytes::appendLittle16;
using labbytes::appendLittle32;
using labbytes::big16;
using labbytes::big32;
using labbytes::byteAt;

// A 32-bit field of the file's own byte order.
std::uint32_t fileWord(std::string_view bytes, std::size_t at, bool swapped) {
    const std::uint32_t value = labbytes::little32(bytes, at);
    return swapped ? __builtin_bswap32(value) : value;
}

// Where the IPv4 header starts in a packet of the link type; nothing for other protocols.
std::optional<std::size_t> ipv4Start(std::string_view packet, std::uint32_t linkType) {
    switch (linkType) {
        case kLinkRaw: return 0;
        case kLinkNull:
            if (packet.size() < 4) return std::nullopt;
            return 4;
        case kLinkLinuxCooked:
            if (packet.size() < 16 || big16(packet, 14) != kEtherTypeIpv4) return std::nullopt;
            return 16;
        case kLinkEthernet: {
            if (packet.size() < 14) return std::nullopt;
            std::size_t typeAt = 12;
            if (big16(packet, typeAt) == kEtherTypeVlan && packet.size() >= 18) typeAt = 16;
            if (big16(packet, typeAt) != kEtherTypeIpv4) return std::nullopt;
            return typeAt + 2;
        }
        default: return std::nullopt;
    }
}

std::optional<LabPcapDatagram> udpDatagram(std::string_view packet, std::uint32_t linkType) {
    const auto start = ipv4Start(packet, linkType);
    if (!start || packet.size() < *start + kIpv4HeaderBytes) return std::nullopt;
    const std::string_view ip = packet.substr(*start);
    const std::size_t headerBytes = (byteAt(ip, 0) & 0x0f) * 4u;
    const bool firstFragment = (big16(ip, 6) & 0x1fff) == 0;
    if (byteAt(ip, 0) >> 4 != 4 || headerBytes < kIpv4HeaderBytes || byteAt(ip, 9) != kProtocolUdp || !firstFragment ||
        ip.size() < headerBytes + kUdpHeaderBytes)
        return std::nullopt;
    const std::string_view udp = ip.substr(headerBytes);
    const std::size_t udpLength = big16(udp, 4);
    if (udpLength < kUdpHeaderBytes) return std::nullopt;
    LabPcapDatagram datagram;
    datagram.source = {big32(ip, 12), big16(udp, 0)};
    datagram.destination = {big32(ip, 16), big16(udp, 2)};
    datagram.payload = std::string(ip.substr(headerBytes + kUdpHeaderBytes, udpLength - kUdpHeaderBytes));
    return datagram;
}

std::uint16_t ipChecksum(std::string_view header) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at + 1 < header.size(); at += 2)
        sum += static_cast<std::uint32_t>(static_cast<std::uint8_t>(header[at]) << 8 | static_cast<std::uint8_t>(header[at + 1]));
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

}  // namespace

LabPcapContents readLabPcapUdp(const std::string& path) {
    LabPcapContents contents;
    std::ifstream file(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.is_open() || data.size() < kFileHeaderBytes) {
        contents.error = "cannot read a pcap header from " + path;
        return contents;
    }
    const std::uint32_t magic = labbytes::little32(data, 0);
    const bool swapped = magic == __builtin_bswap32(kMicrosecondMagic) || magic == __builtin_bswap32(kNanosecondMagic);
    if (!swapped && magic != kMicrosecondMagic && magic != kNanosecondMagic) {
        contents.error = "not a libpcap file";
        return contents;
    }
    const std::uint32_t linkType = fileWord(data, 20, swapped) & 0x0fffffff;
    if (linkType != kLinkNull && linkType != kLinkEthernet && linkType != kLinkRaw && linkType != kLinkLinuxCooked) {
        contents.error = "unsupported link type " + std::to_string(linkType);
        return contents;
    }
    for (std::size_t at = kFileHeaderBytes; at < data.size();) {
        if (data.size() - at < kRecordHeaderBytes) {
            contents.error = "truncated record header";
            return contents;
        }
        const std::uint32_t captured = fileWord(data, at + 8, swapped);
        if (captured > kLargestRecordBytes || captured > data.size() - at - kRecordHeaderBytes) {
            contents.error = "truncated record";
            return contents;
        }
        const auto datagram = udpDatagram(std::string_view(data).substr(at + kRecordHeaderBytes, captured), linkType);
        if (datagram)
            contents.datagrams.push_back(*datagram);
        else
            ++contents.otherPackets;
        at += kRecordHeaderBytes + captured;
    }
    return contents;
}

bool LabPcapWriter::open(const std::string& path) {
    close();
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return false;
    std::string bytes;
    appendLittle32(bytes, kMicrosecondMagic);
    appendLittle16(bytes, 2);
    appendLittle16(bytes, 4);
    appendLittle32(bytes, 0);
    appendLittle32(bytes, 0);
    appendLittle32(bytes, kLargestRecordBytes);
    appendLittle32(bytes, kLinkRaw);
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    return true;
}

void LabPcapWriter::add(const LabUdpAddress& source, const LabUdpAddress& destination, std::string_view payload) {
    if (!file_) return;
    const std::size_t packetBytes = kIpv4HeaderBytes + kUdpHeaderBytes + payload.size();
    if (packetBytes > 0xffff) return;
    std::string ip;
    ip += static_cast<char>(0x45);
    ip += '\0';
    appendBig16(ip, static_cast<std::uint16_t>(packetBytes));
    appendBig16(ip, nextIdentification_++);
    appendBig16(ip, 0);
    ip += static_cast<char>(64);
    ip += static_cast<char>(kProtocolUdp);
    appendBig16(ip, 0);
    appendBig32(ip, source.host);
    appendBig32(ip, destination.host);
    const std::uint16_t checksum = ipChecksum(ip);
    ip[10] = static_cast<char>(checksum >> 8);
    ip[11] = static_cast<char>(checksum & 0xff);
    appendBig16(ip, source.port);
    appendBig16(ip, destination.port);
    appendBig16(ip, static_cast<std::uint16_t>(kUdpHeaderBytes + payload.size()));
    appendBig16(ip, 0);  // no UDP checksum
    ip.append(payload);

    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    std::string record;
    appendLittle32(record, static_cast<std::uint32_t>(micros / 1000000));
    appendLittle32(record, static_cast<std::uint32_t>(micros % 1000000));
    appendLittle32(record, static_cast<std::uint32_t>(ip.size()));
    appendLittle32(record, static_cast<std::uint32_t>(ip.size()));
    record += ip;
    std::fwrite(record.data(), 1, record.size(), file_);
    std::fflush(file_);
}

void LabPcapWriter::close() {
    if (!file_) return;
    std::fclose(file_);
    file_ = nullptr;
}
