#include "voice/network/RouteLookup.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "infra/CLogger.h"
#include "infra/Timing.h"

namespace {

constexpr std::uint32_t kRequestSequence = 1;

std::optional<std::uint32_t> resolve(const std::string& host) {
    const std::string name = host.substr(0, host.find(':'));
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return std::nullopt;
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    return address.sin_addr.s_addr;
}

struct RouteRequest {
    nlmsghdr header;
    rtmsg route;
    rtattr destinationHeader;
    std::uint32_t destination;
};

// A socket closed when it goes out of scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

std::optional<netlink::RoutePath> askKernel(std::uint32_t destination) {
    Descriptor socket{::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE)};
    if (socket.fd < 0) {
        logMessage(LogLevel::Error, "lookUpRoute(): Cannot open a routing socket: %s", std::strerror(errno));
        return std::nullopt;
    }
    RouteRequest request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = kRequestSequence;
    request.route.rtm_family = AF_INET;
    request.route.rtm_dst_len = 32;
    request.destinationHeader.rta_len = RTA_LENGTH(sizeof destination);
    request.destinationHeader.rta_type = RTA_DST;
    request.destination = destination;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(socket.fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        logMessage(LogLevel::Error, "lookUpRoute(): Cannot ask for a route: %s", std::strerror(errno));
        return std::nullopt;
    }
    const auto limit = std::chrono::steady_clock::now() + Timing::scaled(intervals::kRouteLookupLimit);
    std::array<std::uint8_t, 8192> buffer;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
        pollfd watched{socket.fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&watched, 1, static_cast<int>(left.count())) <= 0) break;
        sockaddr_nl sender{};
        socklen_t length = sizeof sender;
        const ssize_t size = recvfrom(socket.fd, buffer.data(), buffer.size(), MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&sender), &length);
        if (size < 0) continue;
        if (sender.nl_pid != 0 || static_cast<std::size_t>(size) > buffer.size()) {
            logMessage(LogLevel::Warning, "lookUpRoute(): Ignored %zd bytes %s", size,
                       sender.nl_pid != 0 ? "not from the kernel" : "cut short");
            continue;
        }
        const auto batch = netlink::parseNetlinkBatch(std::span(buffer.data(), static_cast<std::size_t>(size)));
        if (!batch.problem.empty())
            logMessage(LogLevel::Warning, "lookUpRoute(): Bad answer from the kernel: %s", batch.problem.c_str());
        if (batch.route) return batch.route;
        // No route at all is an answer too: the network is down.
        if (batch.error == ENETUNREACH || batch.error == EHOSTUNREACH) return netlink::RoutePath{};
        if (batch.error) {
            logMessage(LogLevel::Error, "lookUpRoute(): The kernel refused the route request: %s",
                       std::strerror(*batch.error));
            return std::nullopt;
        }
    }
    logMessage(LogLevel::Error, "lookUpRoute(): No answer to the route request");
    return std::nullopt;
}

}  // namespace

std::optional<netlink::RoutePath> lookUpRoute(const std::string& host) {
    const auto destination = resolve(host);
    if (!destination) {
        logMessage(LogLevel::Error, "lookUpRoute(): Cannot resolve [%s]", host.c_str());
        return std::nullopt;
    }
    return askKernel(*destination);
}
