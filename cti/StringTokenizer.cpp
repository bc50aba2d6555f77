#include "cti/StringTokenizer.h"

StringTokenizer::StringTokenizer(const std::string& text, const std::string& delimiter) : delimiter_(delimiter) {
    if (text.empty()) return;
    if (delimiter.empty()) {
        tokens_.push_back(text);
        return;
    }
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(delimiter, start)) != std::string::npos; start = at + delimiter.size())
        tokens_.push_back(text.substr(start, at - start));
    tokens_.push_back(text.substr(start));
}

std::string StringTokenizer::nextToken() { return hasMoreTokens() ? tokens_[cursor_++] : std::string(); }

std::string StringTokenizer::remainingString() const {
    std::string rest;
    for (std::size_t i = cursor_; i < tokens_.size(); ++i) rest += tokens_[i] + delimiter_;
    return rest;
}
