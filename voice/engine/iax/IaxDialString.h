#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "voice/engine/iax/IaxWire.h"

namespace iax {

// "host" or "host:port"; the port is kDefaultPort when absent.
struct HostPort {
    std::string host;
    int port = kDefaultPort;
};
std::optional<HostPort> parseHostPort(std::string_view text);

// "[user[:secret]@]host[:port][/extension]": the extension is everything after the first "/".
struct DialString {
    std::string user;
    std::string secret;
    HostPort peer;
    std::string extension;
};
std::optional<DialString> parseDialString(std::string_view text);

}  // namespace iax
