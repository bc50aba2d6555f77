#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// An IPv4 UDP endpoint.
class PeerAddress {
public:
    PeerAddress() = default;
    explicit PeerAddress(const sockaddr_in& address) : address_(address) {}
    // Looks the host up (blocking); nothing when it cannot be resolved.
    static std::optional<PeerAddress> resolve(const std::string& host, int port);

    const sockaddr_in& raw() const { return address_; }
    std::string text() const;  // "a.b.c.d:port"
    bool operator==(const PeerAddress& other) const;

private:
    sockaddr_in address_{};
};

// Where frames go out; the engine's one socket, or a test's recorder.
class DatagramSender {
public:
    virtual ~DatagramSender() = default;
    virtual void send(const PeerAddress& to, std::span<const std::uint8_t> datagram) = 0;
};

class UdpSocket : public DatagramSender {
public:
    UdpSocket() = default;
    ~UdpSocket() override;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Binds to `address`:`port`; when the port is taken, to an ephemeral port (logged).
    bool open(const std::string& address, int port);
    // Closes the socket and binds a new one to the same address and port, so nothing of the old
    // network path (a pending error, a source address that is gone) stays with it. Only the
    // thread that waits on the socket may call it.
    bool reopen();
    int localPort() const;
    // Waits until a datagram is waiting, wake() is called, or `timeout` passes (none: no limit).
    void wait(std::optional<std::chrono::milliseconds> timeout);
    // Ends the wait in progress, or else the next one, at once; from any thread.
    void wake();
    // One waiting datagram without blocking: its real size (larger than `buffer` when it was
    // cut), or nothing when none is waiting.
    std::optional<std::size_t> receive(std::span<std::uint8_t> buffer, PeerAddress& from);
    void send(const PeerAddress& to, std::span<const std::uint8_t> datagram) override;

private:
    bool bindSocket(int port);

    std::string address_;
    int fd_ = -1;
    int wakeFd_ = -1;
};
