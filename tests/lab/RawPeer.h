#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The other end of a lab peer in its tests: plain POSIX sockets and its own "~" splitting,
// sharing no code with lab/, so a fault in the lab's socket or framing code cannot hide on
// both sides.
class RawConnection {
public:
    explicit RawConnection(int fd = -1) : fd_(fd) {}
    ~RawConnection() { close(); }
    RawConnection(RawConnection&& other) noexcept : fd_(std::exchange(other.fd_, -1)), buffer_(std::move(other.buffer_)) {}
    RawConnection& operator=(RawConnection&& other) noexcept {
        close();
        fd_ = std::exchange(other.fd_, -1);
        buffer_ = std::move(other.buffer_);
        return *this;
    }

    static RawConnection connectTo(std::uint16_t port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return RawConnection();
        }
        return RawConnection(fd);
    }

    bool valid() const { return fd_ >= 0; }

    void send(std::string_view bytes) const {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) return;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
    }

    // The next `count` "~"-terminated messages (without the "~"), or fewer when `timeout` passes.
    std::vector<std::string> messages(std::size_t count, std::chrono::milliseconds timeout) {
        std::vector<std::string> found;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (found.size() < count) {
            const auto tilde = buffer_.find('~');
            if (tilde != std::string::npos) {
                found.push_back(buffer_.substr(0, tilde));
                buffer_.erase(0, tilde + 1);
                continue;
            }
            if (!readSome(end)) break;
        }
        return found;
    }
    std::optional<std::string> message(std::chrono::milliseconds timeout) {
        auto found = messages(1, timeout);
        if (found.empty()) return std::nullopt;
        return found.front();
    }

    // Every byte that arrives within `period`, "~" included, with what was already buffered.
    std::string bytesFor(std::chrono::milliseconds period) {
        const auto end = std::chrono::steady_clock::now() + period;
        while (readSome(end)) {
        }
        return std::exchange(buffer_, {});
    }
    // Reads until `count` bytes have arrived or `timeout` passes.
    std::string bytes(std::size_t count, std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (buffer_.size() < count && readSome(end)) {
        }
        return std::exchange(buffer_, {});
    }

    // True when the other side closes the connection within `timeout`.
    bool closedWithin(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (readSome(end)) {
        }
        return peerClosed_;
    }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    // Appends one read to the buffer; false at the deadline or when the peer closed.
    bool readSome(std::chrono::steady_clock::time_point end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (fd_ < 0 || peerClosed_ || left.count() <= 0) return false;
        pollfd wait{fd_, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return false;
        char chunk[65536];
        const ssize_t count = ::recv(fd_, chunk, sizeof chunk, 0);
        if (count <= 0) {
            peerClosed_ = true;
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(count));
        return true;
    }

    int fd_ = -1;
    std::string buffer_;
    bool peerClosed_ = false;
};

// A listening socket on an ephemeral loopback port, standing in for the phone's local listener.
class RawListener {
public:
    RawListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 4);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~RawListener() { ::close(fd_); }
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    std::uint16_t port() const { return port_; }

    // The next connection, or an invalid one when none comes within `timeout`.
    RawConnection accept(std::chrono::milliseconds timeout) const {
        pollfd wait{fd_, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(timeout.count())) <= 0) return RawConnection();
        return RawConnection(::accept(fd_, nullptr, nullptr));
    }

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};
