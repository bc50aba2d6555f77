#include "desktop/ScreenPopTarget.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::size_t kFirefoxPrefix = 8;        // "firefox:"
constexpr std::size_t kFirefoxTwoPagesPrefix = 16;  // "firefox:new_tab:" and the like
constexpr std::size_t kDefaultPrefix = 8;        // "default:"

bool isControlOrBlank(unsigned char c) { return c <= 0x20 || c == 0x7F; }

// The address as a browser reads it: no blanks or control characters around it, no tab or
// line end inside it.
std::string browserForm(const std::string& address) {
    std::string cleaned;
    for (const char c : address)
        if (c != '\t' && c != '\n' && c != '\r') cleaned += c;
    const auto first = std::find_if_not(cleaned.begin(), cleaned.end(), [](unsigned char c) { return isControlOrBlank(c); });
    const auto last = std::find_if_not(cleaned.rbegin(), cleaned.rend(), [](unsigned char c) { return isControlOrBlank(c); });
    if (first == cleaned.end()) return {};
    return std::string(first, last.base());
}

// The scheme in lower case, or "" when the address starts with a host (and perhaps a port).
std::string schemeOf(const std::string& address) {
    if (address.empty() || !std::isalpha(static_cast<unsigned char>(address.front()))) return {};
    std::size_t end = 1;
    while (end < address.size() && (std::isalnum(static_cast<unsigned char>(address[end])) ||
                                    address[end] == '+' || address[end] == '-' || address[end] == '.'))
        ++end;
    if (end == address.size() || address[end] != ':') return {};
    std::size_t digits = end + 1;
    while (digits < address.size() && std::isdigit(static_cast<unsigned char>(address[digits]))) ++digits;
    const bool hostAndPort = digits > end + 1 && (digits == address.size() || std::string("/?#").find(address[digits]) != std::string::npos);
    if (hostAndPort) return {};
    std::string scheme = address.substr(0, end);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
    return scheme;
}

bool isWebPage(const std::string& page) {
    const std::string scheme = schemeOf(page);
    return scheme == "http" || scheme == "https";
}

std::string tail(const std::string& text, std::size_t from) { return from < text.size() ? text.substr(from) : std::string(); }

std::vector<std::string> blankSeparated(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
        const auto end = text.find(' ', at);
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

ScreenPopTarget refused(std::string why) { return {ScreenPopTarget::Form::Refused, {}, std::move(why)}; }

// Every page must be a web page.
ScreenPopTarget outside(ScreenPopTarget::Form form, std::vector<std::string> pages) {
    if (pages.empty()) return refused("no page to open");
    for (std::string& page : pages) {
        page = browserForm(page);
        if (!isWebPage(page)) return refused("[" + page + "] is not an http or https page");
    }
    return {form, std::move(pages), {}};
}

}  // namespace

ScreenPopTarget ScreenPopTarget::read(const std::string& address) {
    if (address.empty()) return {};
    if (address.starts_with("firefox:")) {
        if (address.find("new_tab") != std::string::npos)
            return outside(Form::FirefoxTabs, blankSeparated(tail(address, kFirefoxTwoPagesPrefix)));
        if (address.find("new_win") != std::string::npos) {
            const std::string pages = tail(address, kFirefoxTwoPagesPrefix);
            const auto blank = pages.find(' ');
            return outside(Form::FirefoxWindows, {pages.substr(0, blank), blank == std::string::npos ? "" : pages.substr(blank + 1)});
        }
        return outside(Form::Firefox, {tail(address, kFirefoxPrefix)});
    }
    if (address.starts_with("default:")) return outside(Form::DefaultBrowser, {tail(address, kDefaultPrefix)});

    const std::string page = browserForm(address);
    if (page.empty()) return refused("no page to open");
    const std::string scheme = schemeOf(page);
    if (scheme.empty() && page.front() != '/') return {Form::View, {"http://" + page}, {}};
    if (!isWebPage(page)) return refused("[" + page + "] is not an http or https page");
    return {Form::View, {page}, {}};
}
