#include "lab/common/LabSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

constexpr int kListenBacklog = 4;

sockaddr_in loopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

LabSocket::~LabSocket() { close(); }

LabSocket::LabSocket(LabSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

LabSocket& LabSocket::operator=(LabSocket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

LabSocket LabSocket::listenOnLoopback(std::uint16_t port) {
    // Non-blocking, so an accept whose connection went away again returns at once.
    LabSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.valid()) return socket;
    const int reuse = 1;
    ::setsockopt(socket.fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    const sockaddr_in address = loopbackAddress(port);
    if (::bind(socket.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket.fd_, kListenBacklog) != 0)
        socket.close();
    return socket;
}

LabSocket LabSocket::connectToLoopback(std::uint16_t port) {
    LabSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) return socket;
    const sockaddr_in address = loopbackAddress(port);
    if (::connect(socket.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) socket.close();
    return socket;
}

LabSocket LabSocket::accept() const { return LabSocket(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)); }

std::uint16_t LabSocket::localPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

bool LabSocket::sendAll(std::string_view bytes, int abandonFd) const {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd waits[] = {{fd_, POLLOUT, 0}, {abandonFd, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR) return false;
        if (waits[1].revents & POLLIN) return false;
    }
    return true;
}

ssize_t LabSocket::receive(char* buffer, std::size_t size) const {
    ssize_t received;
    do {
        received = ::recv(fd_, buffer, size, 0);
    } while (received < 0 && errno == EINTR);
    return received;
}

void LabSocket::close() {
    if (fd_ < 0) return;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    fd_ = -1;
}
