#include "wire/KVSet.h"

#include <string_view>

namespace {

std::string_view trim(std::string_view text) {
    const char* blanks = " \t\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The name between the first '<' and the first '>', or "" when there is none.
std::string_view firstTagName(std::string_view text) {
    const auto open = text.find('<');
    const auto close = text.find('>');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return {};
    return text.substr(open + 1, close - open - 1);
}

std::string closingTagOf(std::string_view name) { return "</" + std::string(name) + ">"; }

}  // namespace

std::string KVSet::getValue(const std::string& key) const {
    const auto it = entries_.find(key);
    return it == entries_.end() ? std::string() : it->second;
}

std::vector<std::string> KVSet::getValues(const std::string& key) const {
    std::vector<std::string> values;
    const auto [first, last] = entries_.equal_range(key);
    for (auto it = first; it != last; ++it) values.push_back(it->second);
    return values;
}

void KVSet::clear() {
    entries_.clear();
    name_ = "XML";
}

std::string KVSet::toString() const {
    std::string text = "<" + name_ + ">";
    for (const auto& [key, value] : entries_) text += "<" + key + ">" + value + "</" + key + ">";
    return text + "</" + name_ + ">";
}

std::string KVSet::toString(const std::string& key) const {
    std::string text;
    for (const std::string& value : getValues(key)) text += "<" + key + ">" + value + "</" + key + ">";
    return text;
}

// The root must be closed, and within it each child in turn must have its closing tag; a
// child's own content and anything after the root are not examined.
bool KVSet::isValid(const std::string& text, bool top) {
    std::string_view rest = trim(text);
    while (!rest.empty()) {
        const std::string closingTag = closingTagOf(firstTagName(rest));
        const auto closing = rest.find(closingTag);
        if (closing == std::string_view::npos) return false;
        if (top) {
            const auto contentStart = rest.find('>') + 1;
            rest = trim(rest.substr(contentStart, closing > contentStart ? closing - contentStart : 0));
            top = false;
        } else {
            rest = trim(rest.substr(closing + closingTag.size()));
        }
    }
    return true;
}

bool KVSet::parse(const std::string& text) {
    if (!isValid(text, true)) return false;
    std::string_view rest = trim(text);
    if (rest.empty()) return true;
    name_ = std::string(firstTagName(rest));
    rest.remove_prefix(rest.find('>') + 1);
    const std::string end = closingTagOf(name_);
    while (rest != end) {
        const auto keyOpen = rest.find('<');
        if (keyOpen == std::string_view::npos) break;
        const auto keyClose = rest.find('>', keyOpen);
        if (keyClose == std::string_view::npos) break;
        const std::string_view key = rest.substr(keyOpen + 1, keyClose - keyOpen - 1);
        const std::string closingTag = closingTagOf(key);
        const auto closing = rest.find(closingTag, keyClose + 1);
        if (closing == std::string_view::npos) break;  // what is left is the root's own closing tag
        add(std::string(key), std::string(rest.substr(keyClose + 1, closing - keyClose - 1)));
        rest.remove_prefix(closing + closingTag.size());
    }
    return true;
}
