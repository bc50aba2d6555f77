#include "voice/engine/iax/UdpSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "infra/CLogger.h"

std::optional<PeerAddress> PeerAddress::resolve(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
    sockaddr_in address;
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return PeerAddress(address);
}

std::string PeerAddress::text() const {
    char host[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address_.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(address_.sin_port));
}

bool PeerAddress::operator==(const PeerAddress& other) const {
    return address_.sin_addr.s_addr == other.address_.sin_addr.s_addr && address_.sin_port == other.address_.sin_port;
}

UdpSocket::~UdpSocket() {
    if (fd_ >= 0) close(fd_);
    if (wakeFd_ >= 0) close(wakeFd_);
}

bool UdpSocket::open(const std::string& address, int port) {
    address_ = address;
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        logMessage(LogLevel::Error, "UdpSocket::open(): eventfd() failed: %s", std::strerror(errno));
        return false;
    }
    return bindSocket(port);
}

bool UdpSocket::reopen() {
    const int port = localPort();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    logMessage(LogLevel::Debug, "UdpSocket::reopen(): Opening %s:%d again", address_.c_str(), port);
    return bindSocket(port);
}

bool UdpSocket::bindSocket(int port) {
    auto local = PeerAddress::resolve(address_, port);
    if (!local) {
        logMessage(LogLevel::Error, "UdpSocket::open(): Cannot use bind address [%s]", address_.c_str());
        return false;
    }
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        logMessage(LogLevel::Error, "UdpSocket::open(): socket() failed: %s", std::strerror(errno));
        return false;
    }
    sockaddr_in wanted = local->raw();
    const auto bindTo = [this, &wanted](int chosenPort) {
        wanted.sin_port = htons(static_cast<std::uint16_t>(chosenPort));
        return bind(fd_, reinterpret_cast<const sockaddr*>(&wanted), sizeof wanted) == 0;
    };
    bool bound = bindTo(port);
    if (!bound && errno == EADDRINUSE && port != 0) {
        logMessage(LogLevel::Warning, "UdpSocket::open(): Port %d is taken, using an ephemeral port", port);
        bound = bindTo(0);
    }
    if (!bound) {
        logMessage(LogLevel::Error, "UdpSocket::open(): Cannot bind %s:%d: %s", address_.c_str(), port,
                   std::strerror(errno));
        close(fd_);
        fd_ = -1;
        return false;
    }
    logMessage(LogLevel::Debug, "UdpSocket::open(): Listening on %s:%d", address_.c_str(), localPort());
    return true;
}

int UdpSocket::localPort() const {
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
    return ntohs(bound.sin_port);
}

void UdpSocket::wait(std::optional<std::chrono::milliseconds> timeout) {
    pollfd watched[] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const auto limit = timeout ? std::clamp<std::chrono::milliseconds::rep>(timeout->count(), 0, INT_MAX) : -1;
    if (poll(watched, 2, static_cast<int>(limit)) > 0 && watched[1].revents) {
        std::uint64_t wakes = 0;
        [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &wakes, sizeof wakes);
    }
}

void UdpSocket::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

std::optional<std::size_t> UdpSocket::receive(std::span<std::uint8_t> buffer, PeerAddress& from) {
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    const ssize_t size =
        recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&sender), &length);
    if (size < 0) return std::nullopt;
    from = PeerAddress(sender);
    return static_cast<std::size_t>(size);
}

void UdpSocket::send(const PeerAddress& to, std::span<const std::uint8_t> datagram) {
    const sockaddr_in& address = to.raw();
    if (sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0)
        logMessage(LogLevel::Warning, "UdpSocket::send(): sendto %s failed: %s", to.text().c_str(), std::strerror(errno));
}
