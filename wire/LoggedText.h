#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What the log shows of a text a peer sent: the switch's IAX password masked, and no more
// than kLoggedTextLimit characters ("..." marks the cut; the log line states the full size),
// so a burst of input makes a log that grows with it, not faster.
inline constexpr std::size_t kLoggedTextLimit = 2048;

std::string loggedText(std::string_view text);
