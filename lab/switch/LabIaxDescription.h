#pragma once

#include <string>

#include "lab/switch/LabIaxFrame.h"

// The readable line of a full frame that the switch records and logs: the frame's name, then
// its information elements as key=value in a fixed order (called, username, calling_number,
// format, capability, then the rest), whatever order they came in. Examples:
//   "REGREQ username=1001 refresh=60", "NEW called=ZQ1001 username=1001 calling_number=1001 format=4 capability=14",
//   "DTMF 5", "QUELCH moh", "UNQUELCH", "HANGUP cause=Dumped Call", "RINGING", "VOICE format=4", "TEXT hello".
std::string describeLabIaxFrame(const LabIaxFullFrame& frame);
// Just the name: "REGREQ", "RINGING", "DTMF", "VOICE" ...
std::string labIaxFrameName(const LabIaxFullFrame& frame);
