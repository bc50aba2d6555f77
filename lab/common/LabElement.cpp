#include "lab/common/LabElement.h"

namespace {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string closingTag(std::string_view name) { return "</" + std::string(name) + ">"; }

}  // namespace

LabElement::LabElement(std::string name, std::vector<Child> children)
    : name_(std::move(name)), children_(std::move(children)) {}

LabElement& LabElement::add(std::string key, std::string value) {
    children_.emplace_back(std::move(key), std::move(value));
    return *this;
}

std::optional<std::string> LabElement::value(std::string_view key) const {
    for (const auto& [childKey, childValue] : children_)
        if (childKey == key) return childValue;
    return std::nullopt;
}

std::vector<std::string> LabElement::values(std::string_view key) const {
    std::vector<std::string> found;
    for (const auto& [childKey, childValue] : children_)
        if (childKey == key) found.push_back(childValue);
    return found;
}

std::string LabElement::toString() const {
    std::string text = "<" + name_ + ">";
    for (const auto& [key, value] : children_) text += "<" + key + ">" + value + closingTag(key);
    return text + closingTag(name_);
}

std::optional<LabElement> LabElement::parse(std::string_view text) {
    text = trimmed(text);
    if (text.empty() || text.front() != '<') return std::nullopt;
    const auto nameEnd = text.find('>');
    if (nameEnd == std::string_view::npos || nameEnd == 1) return std::nullopt;
    LabElement element(std::string(text.substr(1, nameEnd - 1)));
    const std::string rootEnd = closingTag(element.name_);
    if (text.size() < nameEnd + 1 + rootEnd.size() || !text.ends_with(rootEnd)) return std::nullopt;

    std::string_view content = text.substr(nameEnd + 1, text.size() - nameEnd - 1 - rootEnd.size());
    for (auto open = content.find('<'); open != std::string_view::npos; open = content.find('<')) {
        const auto keyEnd = content.find('>', open);
        if (keyEnd == std::string_view::npos || keyEnd == open + 1) return std::nullopt;
        const std::string_view key = content.substr(open + 1, keyEnd - open - 1);
        const auto close = content.find(closingTag(key), keyEnd + 1);
        if (close == std::string_view::npos) return std::nullopt;
        element.add(std::string(key), std::string(content.substr(keyEnd + 1, close - keyEnd - 1)));
        content.remove_prefix(close + key.size() + 3);
    }
    return element;
}
