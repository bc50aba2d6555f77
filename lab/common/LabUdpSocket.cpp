#include "lab/common/LabUdpSocket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

LabUdpAddress LabUdpAddress::loopback(std::uint16_t port) { return {INADDR_LOOPBACK, port}; }

sockaddr_in LabUdpAddress::toSockaddr() const {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(host);
    return address;
}

LabUdpAddress LabUdpAddress::fromSockaddr(const sockaddr_in& address) {
    return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

std::string LabUdpAddress::toString() const {
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xff) + "." +
           std::to_string((host >> 8) & 0xff) + "." + std::to_string(host & 0xff) + ":" + std::to_string(port);
}

LabUdpSocket::~LabUdpSocket() { close(); }

LabUdpSocket::LabUdpSocket(LabUdpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

LabUdpSocket& LabUdpSocket::operator=(LabUdpSocket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

LabUdpSocket LabUdpSocket::bindLoopback(std::uint16_t port) { return bindTo(LabUdpAddress::loopback(port)); }

LabUdpSocket LabUdpSocket::bindTo(const LabUdpAddress& local) {
    LabUdpSocket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.valid()) return socket;
    const sockaddr_in address = local.toSockaddr();
    if (::bind(socket.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) socket.close();
    return socket;
}

std::uint16_t LabUdpSocket::localPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

bool LabUdpSocket::sendTo(const LabUdpAddress& to, std::string_view bytes) const {
    const sockaddr_in address = to.toSockaddr();
    ssize_t sent;
    do {
        sent = ::sendto(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(bytes.size());
}

long LabUdpSocket::receiveFrom(char* buffer, std::size_t size, LabUdpAddress& from, bool& truncated) const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ssize_t received;
    do {
        received = ::recvfrom(fd_, buffer, size, MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&address), &length);
    } while (received < 0 && errno == EINTR);
    if (received < 0) return -1;
    from = LabUdpAddress::fromSockaddr(address);
    truncated = static_cast<std::size_t>(received) > size;
    return truncated ? static_cast<long>(size) : static_cast<long>(received);
}

void LabUdpSocket::close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}
