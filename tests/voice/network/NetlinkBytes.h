#pragma once

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Routing messages as the kernel lays them out, written by hand for the tests and the fuzz seeds.
namespace netlink_bytes {

using Bytes = std::vector<std::uint8_t>;

inline void append(Bytes& bytes, const void* data, std::size_t size) {
    const auto* begin = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), begin, begin + size);
    bytes.resize((bytes.size() + 3) & ~std::size_t(3), 0);
}

inline std::uint32_t ip(const char* text) {
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

inline Bytes attribute(std::uint16_t type, const void* value, std::size_t size) {
    rtattr header{static_cast<unsigned short>(RTA_LENGTH(size)), type};
    Bytes bytes;
    append(bytes, &header, sizeof header);  // four bytes: already aligned
    append(bytes, value, size);
    return bytes;
}
inline Bytes address4(std::uint16_t type, const char* text) {
    const std::uint32_t value = ip(text);
    return attribute(type, &value, sizeof value);
}

template <class Header>
Bytes message(std::uint16_t type, const Header& fixed, const std::vector<Bytes>& attributes, std::uint32_t sequence = 0) {
    Bytes body;
    append(body, &fixed, sizeof fixed);
    for (const Bytes& a : attributes) body.insert(body.end(), a.begin(), a.end());
    nlmsghdr header{};
    header.nlmsg_len = static_cast<std::uint32_t>(sizeof header + body.size());
    header.nlmsg_type = type;
    header.nlmsg_seq = sequence;
    Bytes bytes;
    append(bytes, &header, sizeof header);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

inline Bytes addressMessage(std::uint16_t type, const char* local, int family = AF_INET) {
    ifaddrmsg fixed{};
    fixed.ifa_family = static_cast<std::uint8_t>(family);
    fixed.ifa_prefixlen = 24;
    fixed.ifa_index = 2;
    return message(type, fixed, {address4(IFA_ADDRESS, local), address4(IFA_LOCAL, local)});
}

inline Bytes routeMessage(std::uint16_t type, std::uint32_t sequence, const char* source, const char* gateway,
                          std::int32_t interfaceIndex) {
    rtmsg fixed{};
    fixed.rtm_family = AF_INET;
    fixed.rtm_type = RTN_UNICAST;
    fixed.rtm_table = RT_TABLE_MAIN;
    std::vector<Bytes> attributes{address4(RTA_DST, "10.9.0.1"), attribute(RTA_OIF, &interfaceIndex, sizeof interfaceIndex)};
    if (source) attributes.push_back(address4(RTA_PREFSRC, source));
    if (gateway) attributes.push_back(address4(RTA_GATEWAY, gateway));
    return message(type, fixed, attributes, sequence);
}

inline Bytes errorMessage(int error, std::uint32_t sequence) {
    nlmsgerr fixed{};
    fixed.error = -error;
    return message(NLMSG_ERROR, fixed, {}, sequence);
}

inline Bytes join(std::vector<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace netlink_bytes
