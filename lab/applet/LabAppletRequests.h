#pragma once

#include <optional>
#include <string>

// The texts the agent's web applet sends to the phone's local listener, without the "~".
namespace labapplet {

struct DialRequest {
    std::string number;
    std::optional<std::string> tracknumber;  // child "Tracknumber", echoed in a WRONG_STATE reply
    std::optional<std::string> trackNumber;  // child "TrackNumber", handed to the dial
};

std::string greeting();
std::string heartbeat();
std::string forceReady();
std::string unconditionalReady();
std::string dial(const DialRequest& request);
// A dial carrying the track number in both of its children, or in neither when it is empty.
std::string dial(const std::string& number, const std::string& trackNumber = {});
std::string titleChange(const std::string& title);
std::string connected();
std::string forceHangup();

}  // namespace labapplet
