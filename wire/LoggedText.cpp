#include "wire/LoggedText.h"

#include <algorithm>

namespace {

constexpr std::string_view kPasswordOpen = "<IaxPassword>";
constexpr std::string_view kPasswordClose = "</IaxPassword>";

}  // namespace

std::string loggedText(std::string_view text) {
    std::string shown;
    shown.reserve(std::min(text.size(), kLoggedTextLimit) + 16);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t open = text.find(kPasswordOpen, at);
        if (open == std::string_view::npos) {
            shown.append(text.substr(at));
            break;
        }
        shown.append(text.substr(at, open + kPasswordOpen.size() - at)).append("****");
        const std::size_t close = text.find(kPasswordClose, open + kPasswordOpen.size());
        at = close == std::string_view::npos ? text.size() : close;  // an unclosed password is masked to the end
        if (shown.size() > kLoggedTextLimit) break;
    }
    if (shown.size() <= kLoggedTextLimit) return shown;
    shown.resize(kLoggedTextLimit);
    return shown + "...";
}
