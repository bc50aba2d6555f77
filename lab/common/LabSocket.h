#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <sys/types.h>

// A TCP socket on the loopback interface, closed when the object goes (by the thread that
// owns the object).
class LabSocket {
public:
    LabSocket() = default;
    ~LabSocket();
    LabSocket(LabSocket&& other) noexcept;
    LabSocket& operator=(LabSocket&& other) noexcept;
    LabSocket(const LabSocket&) = delete;
    LabSocket& operator=(const LabSocket&) = delete;

    // Listens on 127.0.0.1:port (0 picks an ephemeral port). Invalid on failure.
    static LabSocket listenOnLoopback(std::uint16_t port);
    // Connects to 127.0.0.1:port. Invalid on failure.
    static LabSocket connectToLoopback(std::uint16_t port);

    // Takes a pending connection; invalid when none could be taken.
    LabSocket accept() const;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::uint16_t localPort() const;

    // Sends every byte. Gives up when the peer fails or `abandonFd` becomes readable while the
    // peer is not reading, so a stuck peer cannot hold its owner forever.
    bool sendAll(std::string_view bytes, int abandonFd) const;
    // One read of what is there: the byte count, 0 when the peer closed, -1 on error.
    ssize_t receive(char* buffer, std::size_t size) const;

    void close();

private:
    explicit LabSocket(int fd) : fd_(fd) {}

    int fd_ = -1;
};
