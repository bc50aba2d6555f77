#pragma once

#include <cstddef>
#include <string>

// The nine parts of a recording's file name, in their order in the name.
struct RecordingNameParts {
    std::string client;
    std::string campaign;
    std::string agentId;
    std::string callTime;
    std::string ani;
    std::string switchHost;  // dots become dashes in the name
    std::string trackNumber;
    std::string status;
    std::string extension;
};

// The longest name the upload header can carry: its length byte holds the name's length + 2.
inline constexpr std::size_t kLongestRecordingName = 253;
inline constexpr std::size_t kTagStatusLength = 10;
inline constexpr std::size_t kTagTextLength = 100;

// "client.campaign.agent.time.ani.switch.track.status.ext", with the part from a "+" up to
// the next "." cut out (an international caller number leaves the name). Characters that
// cannot stand in a file name become "_", the name never starts with ".", and a long name
// loses the end of its stem, never its extension, to fit kLongestRecordingName bytes.
std::string recordingFileName(const RecordingNameParts& parts);
