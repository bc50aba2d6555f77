#include "lab/common/LabFieldMessage.h"

namespace {
constexpr int kLargestCode = 99999;
}

LabFieldMessage LabFieldMessage::parse(std::string_view text) {
    LabFieldMessage message;
    std::size_t digits = 0;
    int code = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && code <= kLargestCode)
        code = code * 10 + (text[digits++] - '0');
    if (digits == 0 || code > kLargestCode) return message;
    message.code = code;

    const auto comma = text.find(',');
    if (comma == std::string_view::npos) return message;
    std::string_view rest = text.substr(comma + 1);
    for (auto caret = rest.find('^'); caret != std::string_view::npos; caret = rest.find('^')) {
        message.fields.emplace_back(rest.substr(0, caret));
        rest.remove_prefix(caret + 1);
    }
    message.fields.emplace_back(rest);
    return message;
}

std::string LabFieldMessage::fieldsFrom(std::size_t first) const {
    std::string joined;
    for (std::size_t index = first; index < fields.size(); ++index) {
        if (index > first) joined += '^';
        joined += fields[index];
    }
    return joined;
}
