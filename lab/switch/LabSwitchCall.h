#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class LabCallState {
    Calling,   // a call to the phone, not ringing there yet
    Ringing,
    Answered,
    Ended,
};

std::string labCallStateName(LabCallState state);

// One call as tests and the console see it: a copy, taken under the switch's lock.
struct LabCallInfo {
    int id = 0;
    bool toPhone = false;      // originated by the switch
    std::string user;          // the phone's user
    std::string called;        // the number the phone dialled; for a call to the phone, the user
    std::string callerNumber;
    std::string callerName;
    std::uint32_t format = 0;  // media format bit, 0 until agreed
    LabCallState state = LabCallState::Calling;
    bool quelched = false;     // the phone asked the switch to stop its audio
    bool musicOnHold = false;  // the quelch asked for music on hold
    std::string dtmf;          // the digits the phone sent, in order
    std::vector<std::string> texts;
    std::string endCause;      // why it ended: the phone's cause, the switch's, or what went wrong
    std::string recordFile;    // the WAV of what the phone sent; empty when none is written

    // "3 to-phone 1001 ZQ1001 answered ulaw quelched moh dtmf=12 ..." for the console.
    std::string summary() const;
};
