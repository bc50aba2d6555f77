#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "lab/common/LabFieldMessage.h"

// When the lab CTI server acknowledges the phone's not-ready messages. With a reason set the
// phone sends two copies, "37,track^agent" and then "37,track^agent^reason"; the server must
// acknowledge the pair once.
enum class LabNotReadyAck {
    // Hold the acknowledgement of a reasonless message for a short window: a copy with a reason
    // inside the window is acknowledged with that reason, otherwise the first is acknowledged
    // with an empty reason when the window ends. A late copy is not acknowledged again.
    AfterPair,
    // Acknowledge the reasonless message at once (empty reason) and skip its copy.
    AfterFirst,
    Never,
};

// Applies the LabNotReadyAck rule to one connection's not-ready messages.
class LabNotReadyPairing {
public:
    using Clock = std::chrono::steady_clock;

    // The reasons of the acknowledgements to send now for this message, in order.
    std::vector<std::string> onMessage(const LabFieldMessage& message, LabNotReadyAck rule, Clock::time_point now,
                                       Clock::duration window);
    // The reason of an acknowledgement whose window has ended by `now`.
    std::optional<std::string> onTime(Clock::time_point now);
    // When onTime next has something to do.
    std::optional<Clock::time_point> nextDue() const;

private:
    struct Waiting {
        std::string sender;  // "track^agent" of the reasonless message
        Clock::time_point due;
    };

    std::optional<Waiting> waiting_;
    std::optional<std::string> acknowledgedAlone_;  // sender of the last reasonless message acknowledged alone
};
