#include "lab/common/LabCommandLine.h"

#include <charconv>

namespace {
constexpr std::string_view kBlanks = " \t\r\n";
}

LabCommandLine::LabCommandLine(std::string_view line) : line_(line) {
    std::size_t position = line_.find_first_not_of(kBlanks);
    if (position == std::string::npos || line_[position] == '#') return;
    while (position != std::string::npos) {
        const std::size_t end = line_.find_first_of(kBlanks, position);
        std::string word = line_.substr(position, end == std::string::npos ? std::string::npos : end - position);
        if (command_.empty()) {
            command_ = std::move(word);
        } else {
            arguments_.push_back(std::move(word));
            argumentStarts_.push_back(position);
        }
        position = line_.find_first_not_of(kBlanks, end == std::string::npos ? line_.size() : end);
    }
}

std::string LabCommandLine::argument(std::size_t index) const {
    return index < arguments_.size() ? arguments_[index] : std::string();
}

std::optional<long> LabCommandLine::number(std::size_t index) const {
    const std::string text = argument(index);
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string LabCommandLine::restFrom(std::size_t index) const {
    if (index >= argumentStarts_.size()) return {};
    const std::size_t end = line_.find_last_not_of(kBlanks);
    return line_.substr(argumentStarts_[index], end + 1 - argumentStarts_[index]);
}

std::chrono::milliseconds LabCommandLine::waitLimit(std::size_t index) const {
    const auto seconds = number(index);
    return seconds ? std::chrono::seconds(*seconds) : std::chrono::seconds(60);
}
