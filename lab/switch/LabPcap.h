#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "lab/common/LabUdpSocket.h"

// One UDP datagram of a capture file.
struct LabPcapDatagram {
    LabUdpAddress source;
    LabUdpAddress destination;
    std::string payload;
};

struct LabPcapContents {
    std::vector<LabPcapDatagram> datagrams;
    std::size_t otherPackets = 0;  // not IPv4 UDP, or IP fragments after the first
    std::string error;             // set when the file is no libpcap file of a known link type
};

// Reads the UDP datagrams of a libpcap file (microsecond or nanosecond, either byte order)
// captured on Ethernet, raw IP, BSD loopback or Linux cooked links.
LabPcapContents readLabPcapUdp(const std::string& path);

// Writes datagrams to a libpcap file of raw IPv4 packets, for dissectors such as tshark.
class LabPcapWriter {
public:
    LabPcapWriter() = default;
    ~LabPcapWriter() { close(); }
    LabPcapWriter(const LabPcapWriter&) = delete;
    LabPcapWriter& operator=(const LabPcapWriter&) = delete;

    bool open(const std::string& path);
    void add(const LabUdpAddress& source, const LabUdpAddress& destination, std::string_view payload);
    void close();

private:
    std::FILE* file_ = nullptr;
    std::uint16_t nextIdentification_ = 1;
};
