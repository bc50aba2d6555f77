#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Splits a text at every occurrence of a delimiter, keeping empty pieces: "a^b^^c" gives
// "a", "b", "", "c"; "" gives no token.
class StringTokenizer {
public:
    StringTokenizer(const std::string& text, const std::string& delimiter);

    bool hasMoreTokens() const { return cursor_ < tokens_.size(); }
    // The token under the cursor, advancing it; "" when none is left.
    std::string nextToken();
    // Every token not yet read, each followed by the delimiter.
    std::string remainingString() const;

private:
    std::vector<std::string> tokens_;
    std::string delimiter_;
    std::size_t cursor_ = 0;
};
