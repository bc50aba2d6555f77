#include "lab/switch/LabPcap.h"

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

class Bytes {
public:
    Bytes(std::string_view bytes, bool swapped) : bytes_(bytes), swapped_(swapped) {}
    std::uint32_t little32(std::size_t at) const {
        std::uint32_t value = 0;
        for (int index = 3; index >= 0; --index) value = value << 8 | byte(at + static_cast<std::size_t>(index));
        return swapped_ ? __builtin_bswap32(value) : value;
    }
    std::uint16_t big16(std::size_t at) const { return static_cast<std::uint16_t>(byte(at) << 8 | byte(at + 1)); }
    std::uint32_t big32(std::size_t at) const { return static_cast<std::uint32_t>(big16(at)) << 16 | big16(at + 2); }
    std::uint8_t byte(std::size_t at) const { return static_cast<std::uint8_t>(bytes_[at]); }

private:
    std::string_view bytes_;
    bool swapped_;
};

// Where the IPv4 header starts in a packet of the link type; nothing for other protocols.
std::optional<std::size_t> ipv4Start(std::string_view packet, std::uint32_t linkType) {
    const Bytes bytes(packet, false);
    switch (linkType) {
        case kLinkRaw: return 0;
        case kLinkNull:
            if (packet.size() < 4) return std::nullopt;
            return 4;
        case kLinkLinuxCooked:
            if (packet.size() < 16 || bytes.big16(14) != kEtherTypeIpv4) return std::nullopt;
            return 16;
        case kLinkEthernet: {
            if (packet.size() < 14) return std::nullopt;
            std::size_t typeAt = 12;
            if (bytes.big16(typeAt) == kEtherTypeVlan && packet.size() >= 18) typeAt = 16;
            if (bytes.big16(typeAt) != kEtherTypeIpv4) return std::nullopt;
            return typeAt + 2;
        }
        default: return std::nullopt;
    }
}

std::optional<LabPcapDatagram> udpDatagram(std::string_view packet, std::uint32_t linkType) {
    const auto start = ipv4Start(packet, linkType);
    if (!start || packet.size() < *start + kIpv4HeaderBytes) return std::nullopt;
    const std::string_view ip = packet.substr(*start);
    const Bytes bytes(ip, false);
    const std::size_t headerBytes = (bytes.byte(0) & 0x0f) * 4u;
    const bool firstFragment = (bytes.big16(6) & 0x1fff) == 0;
    if (bytes.byte(0) >> 4 != 4 || headerBytes < kIpv4HeaderBytes || bytes.byte(9) != kProtocolUdp || !firstFragment ||
        ip.size() < headerBytes + kUdpHeaderBytes)
        return std::nullopt;
    const Bytes udp(ip.substr(headerBytes), false);
    const std::size_t udpLength = udp.big16(4);
    if (udpLength < kUdpHeaderBytes) return std::nullopt;
    LabPcapDatagram datagram;
    datagram.source = {bytes.big32(12), udp.big16(0)};
    datagram.destination = {bytes.big32(16), udp.big16(2)};
    datagram.payload = std::string(ip.substr(headerBytes + kUdpHeaderBytes, udpLength - kUdpHeaderBytes));
    return datagram;
}

void putLittle32(std::string& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((value >> shift) & 0xff);
}

void putLittle16(std::string& bytes, std::uint16_t value) {
    bytes += static_cast<char>(value & 0xff);
    bytes += static_cast<char>(value >> 8);
}

void putBig16(std::string& bytes, std::uint16_t value) {
    bytes += static_cast<char>(value >> 8);
    bytes += static_cast<char>(value & 0xff);
}

void putBig32(std::string& bytes, std::uint32_t value) {
    putBig16(bytes, static_cast<std::uint16_t>(value >> 16));
    putBig16(bytes, static_cast<std::uint16_t>(value & 0xffff));
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
    const std::uint32_t magic = Bytes(data, false).little32(0);
    const bool swapped = magic == __builtin_bswap32(kMicrosecondMagic) || magic == __builtin_bswap32(kNanosecondMagic);
    if (!swapped && magic != kMicrosecondMagic && magic != kNanosecondMagic) {
        contents.error = "not a libpcap file";
        return contents;
    }
    const Bytes header(data, swapped);
    const std::uint32_t linkType = header.little32(20) & 0x0fffffff;
    if (linkType != kLinkNull && linkType != kLinkEthernet && linkType != kLinkRaw && linkType != kLinkLinuxCooked) {
        contents.error = "unsupported link type " + std::to_string(linkType);
        return contents;
    }
    for (std::size_t at = kFileHeaderBytes; at < data.size();) {
        if (data.size() - at < kRecordHeaderBytes) {
            contents.error = "truncated record header";
            return contents;
        }
        const std::uint32_t captured = header.little32(at + 8);
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
    putLittle32(bytes, kMicrosecondMagic);
    putLittle16(bytes, 2);
    putLittle16(bytes, 4);
    putLittle32(bytes, 0);
    putLittle32(bytes, 0);
    putLittle32(bytes, kLargestRecordBytes);
    putLittle32(bytes, kLinkRaw);
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
    putBig16(ip, static_cast<std::uint16_t>(packetBytes));
    putBig16(ip, nextIdentification_++);
    putBig16(ip, 0);
    ip += static_cast<char>(64);
    ip += static_cast<char>(kProtocolUdp);
    putBig16(ip, 0);
    putBig32(ip, source.host);
    putBig32(ip, destination.host);
    const std::uint16_t checksum = ipChecksum(ip);
    ip[10] = static_cast<char>(checksum >> 8);
    ip[11] = static_cast<char>(checksum & 0xff);
    putBig16(ip, source.port);
    putBig16(ip, destination.port);
    putBig16(ip, static_cast<std::uint16_t>(kUdpHeaderBytes + payload.size()));
    putBig16(ip, 0);  // no UDP checksum
    ip.append(payload);

    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    std::string record;
    putLittle32(record, static_cast<std::uint32_t>(micros / 1000000));
    putLittle32(record, static_cast<std::uint32_t>(micros % 1000000));
    putLittle32(record, static_cast<std::uint32_t>(ip.size()));
    putLittle32(record, static_cast<std::uint32_t>(ip.size()));
    record += ip;
    std::fwrite(record.data(), 1, record.size(), file_);
    std::fflush(file_);
}

void LabPcapWriter::close() {
    if (!file_) return;
    std::fclose(file_);
    file_ = nullptr;
}
