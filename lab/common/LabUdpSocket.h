#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// An IPv4 address and port, as a UDP peer is known.
struct LabUdpAddress {
    std::uint32_t host = 0;  // host byte order
    std::uint16_t port = 0;

    static LabUdpAddress loopback(std::uint16_t port);
    sockaddr_in toSockaddr() const;
    static LabUdpAddress fromSockaddr(const sockaddr_in& address);
    std::string toString() const;  // "127.0.0.1:4569"

    friend bool operator==(const LabUdpAddress&, const LabUdpAddress&) = default;
    friend auto operator<=>(const LabUdpAddress&, const LabUdpAddress&) = default;
};

// A UDP socket bound to the loopback interface, closed when the object goes (by the thread
// that owns the object). Sending is safe from any thread.
class LabUdpSocket {
public:
    LabUdpSocket() = default;
    ~LabUdpSocket();
    LabUdpSocket(LabUdpSocket&& other) noexcept;
    LabUdpSocket& operator=(LabUdpSocket&& other) noexcept;
    LabUdpSocket(const LabUdpSocket&) = delete;
    LabUdpSocket& operator=(const LabUdpSocket&) = delete;

    // Binds 127.0.0.1:port (0 picks an ephemeral port), non-blocking. Invalid on failure.
    static LabUdpSocket bindLoopback(std::uint16_t port);
    // The same on another local address.
    static LabUdpSocket bindTo(const LabUdpAddress& address);

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::uint16_t localPort() const;

    bool sendTo(const LabUdpAddress& to, std::string_view bytes) const;
    // One datagram if one is waiting: its size (0 is a valid empty datagram), -1 when none.
    // A datagram longer than `size` is cut; `truncated` says so.
    long receiveFrom(char* buffer, std::size_t size, LabUdpAddress& from, bool& truncated) const;

    void close();

private:
    explicit LabUdpSocket(int fd) : fd_(fd) {}

    int fd_ = -1;
};
