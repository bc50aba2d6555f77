#include "voice/network/NetlinkMessages.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>

namespace netlink {
namespace {

constexpr std::size_t align(std::size_t length) { return (length + 3) & ~std::size_t(3); }

// Reads a plain structure from a byte range that is known to hold it.
template <class T>
T read(std::span<const std::uint8_t> bytes) {
    T value{};
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

// The attributes (rtattr) that follow a message's fixed header; false when one is malformed.
template <class Visit>
bool forEachAttribute(std::span<const std::uint8_t> bytes, Visit&& visit) {
    while (bytes.size() >= sizeof(rtattr)) {
        const auto attribute = read<rtattr>(bytes);
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > bytes.size()) return false;
        visit(attribute.rta_type, bytes.subspan(sizeof(rtattr), attribute.rta_len - sizeof(rtattr)));
        bytes = bytes.subspan(std::min<std::size_t>(align(attribute.rta_len), bytes.size()));
    }
    return true;
}

std::optional<std::uint32_t> ipv4(std::span<const std::uint8_t> value) {
    if (value.size() != sizeof(std::uint32_t)) return std::nullopt;
    return read<std::uint32_t>(value);
}

// An address message; "" when read, else the problem.
const char* readAddress(std::uint16_t type, std::span<const std::uint8_t> body, NetlinkBatch& batch) {
    if (body.size() < sizeof(ifaddrmsg)) return "address message too short";
    const auto header = read<ifaddrmsg>(body);
    if (header.ifa_family != AF_INET) return "";
    batch.changed = true;
    if (type != RTM_DELADDR) return "";
    std::optional<std::uint32_t> local, address;
    const bool whole = forEachAttribute(body.subspan(align(sizeof(ifaddrmsg))), [&](std::uint16_t kind, auto value) {
        if (kind == IFA_LOCAL) local = ipv4(value);
        if (kind == IFA_ADDRESS) address = ipv4(value);
    });
    if (!whole) return "malformed address attribute";
    // IFA_LOCAL is the interface's own address; IFA_ADDRESS the peer's on point-to-point links.
    if (const auto removed = local ? local : address) batch.removedAddresses.push_back(*removed);
    return "";
}

const char* readRoute(std::uint16_t type, std::span<const std::uint8_t> body, NetlinkBatch& batch, bool answer) {
    if (body.size() < sizeof(rtmsg)) return "route message too short";
    const auto header = read<rtmsg>(body);
    if (header.rtm_family != AF_INET) return "";
    RoutePath path;
    const bool whole = forEachAttribute(body.subspan(align(sizeof(rtmsg))), [&](std::uint16_t kind, auto value) {
        if (kind == RTA_PREFSRC) path.source = ipv4(value).value_or(0);
        if (kind == RTA_GATEWAY) path.gateway = ipv4(value).value_or(0);
        if (kind == RTA_OIF && value.size() == sizeof(std::int32_t)) path.interfaceIndex = read<std::int32_t>(value);
    });
    if (!whole) return "malformed route attribute";
    if (answer && type == RTM_NEWROUTE) {
        path.reachable = header.rtm_type == RTN_UNICAST || header.rtm_type == RTN_LOCAL;
        batch.route = path;
    } else {
        batch.changed = true;
    }
    return "";
}

}  // namespace

std::string addressText(std::uint32_t address) {
    char text[INET_ADDRSTRLEN] = "";
    in_addr raw{};
    raw.s_addr = address;
    inet_ntop(AF_INET, &raw, text, sizeof text);
    return text;
}

std::string RoutePath::text() const {
    if (!reachable) return "no route";
    std::string text = "from " + addressText(source);
    if (gateway) text += " via " + addressText(gateway);
    return text + " on interface " + std::to_string(interfaceIndex);
}

NetlinkBatch parseNetlinkBatch(std::span<const std::uint8_t> datagram) {
    NetlinkBatch batch;
    auto rest = datagram;
    while (!rest.empty()) {
        if (rest.size() < sizeof(nlmsghdr)) {
            batch.problem = "message header cut short";
            break;
        }
        const auto header = read<nlmsghdr>(rest);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > rest.size()) {
            batch.problem = "message length " + std::to_string(header.nlmsg_len) + " does not fit the " +
                            std::to_string(rest.size()) + " bytes left";
            break;
        }
        const auto body = rest.subspan(align(sizeof(nlmsghdr)), header.nlmsg_len - align(sizeof(nlmsghdr)));
        // Messages sent to the whole group carry sequence number 0; a route request's answer does not.
        const bool answer = header.nlmsg_seq != 0;
        const char* problem = "";
        switch (header.nlmsg_type) {
        case RTM_NEWADDR:
        case RTM_DELADDR:
            problem = readAddress(header.nlmsg_type, body, batch);
            break;
        case RTM_NEWROUTE:
        case RTM_DELROUTE:
            problem = readRoute(header.nlmsg_type, body, batch, answer);
            break;
        case NLMSG_ERROR:
            if (body.size() < sizeof(int)) problem = "error message too short";
            else batch.error = -read<int>(body);
            break;
        default:  // NLMSG_DONE, NLMSG_NOOP, links, neighbours: nothing the phone follows
            break;
        }
        if (*problem) {
            batch.problem = problem;
            break;
        }
        ++batch.messages;
        rest = rest.subspan(std::min<std::size_t>(align(header.nlmsg_len), rest.size()));
    }
    return batch;
}

}  // namespace netlink
