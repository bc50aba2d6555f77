#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// What the kernel's routing messages (NETLINK_ROUTE) tell the phone, read from raw bytes that
// are checked before every use: a bad or cut message ends the reading of its datagram, never
// more. IPv4 only, as the voice engine's socket is.
namespace netlink {

// The way to a peer: the local address datagrams leave from, the next hop, the interface.
// Unreachable when the kernel has no route.
struct RoutePath {
    bool reachable = false;
    std::uint32_t source = 0;   // network order
    std::uint32_t gateway = 0;  // network order; 0: the peer is on the link
    int interfaceIndex = 0;

    bool operator==(const RoutePath&) const = default;
    std::string text() const;  // "from 10.0.0.2 via 10.0.0.1 on interface 3", or "no route"
};

// One datagram of routing messages.
struct NetlinkBatch {
    bool changed = false;                     // an IPv4 address or route was added or removed
    std::vector<std::uint32_t> removedAddresses;  // IPv4 addresses removed, network order
    std::optional<RoutePath> route;           // the answer to a route request
    std::optional<int> error;                 // an NLMSG_ERROR's errno (0: an acknowledgement)
    int messages = 0;                         // messages read whole
    std::string problem;                      // why the reading stopped early; empty when it did not
};

NetlinkBatch parseNetlinkBatch(std::span<const std::uint8_t> datagram);

// "a.b.c.d" of an address in network order.
std::string addressText(std::uint32_t address);

}  // namespace netlink
