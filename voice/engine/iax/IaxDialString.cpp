#include "voice/engine/iax/IaxDialString.h"

#include <charconv>

namespace iax {

std::optional<HostPort> parseHostPort(std::string_view text) {
    HostPort result;
    const auto colon = text.rfind(':');
    result.host = std::string(text.substr(0, colon));
    if (result.host.empty()) return std::nullopt;
    if (colon == std::string_view::npos) return result;
    const std::string_view port = text.substr(colon + 1);
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), result.port);
    if (error != std::errc() || end != port.data() + port.size() || result.port < 1 || result.port > 65535)
        return std::nullopt;
    return result;
}

std::optional<DialString> parseDialString(std::string_view text) {
    DialString dial;
    const auto slash = text.find('/');
    if (slash != std::string_view::npos) dial.extension = std::string(text.substr(slash + 1));
    std::string_view address = text.substr(0, slash);
    if (const auto at = address.rfind('@'); at != std::string_view::npos) {
        const std::string_view credentials = address.substr(0, at);
        const auto colon = credentials.find(':');
        dial.user = std::string(credentials.substr(0, colon));
        if (colon != std::string_view::npos) dial.secret = std::string(credentials.substr(colon + 1));
        address = address.substr(at + 1);
    }
    auto peer = parseHostPort(address);
    if (!peer) return std::nullopt;
    dial.peer = std::move(*peer);
    return dial;
}

}  // namespace iax
