#pragma once

#include <chrono>
#include <string>

#include "lab/common/LabUdpSocket.h"

// Call tokens as Asterisk hands them out: "<time>?<digest>", where the digest binds the time
// to the peer's address with a secret of this switch, so a token proves the peer can receive
// at that address. A token is good for `lifetime` after it was issued.
class LabCallTokens {
public:
    using Clock = std::chrono::steady_clock;

    LabCallTokens();

    std::string issue(const LabUdpAddress& peer, Clock::time_point now) const;
    bool valid(const std::string& token, const LabUdpAddress& peer, Clock::time_point now,
               Clock::duration lifetime) const;

private:
    std::string digest(const std::string& stamp, const LabUdpAddress& peer) const;

    std::string secret_;
    Clock::time_point epoch_;
};
