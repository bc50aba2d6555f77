#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lab/common/LabUdpSocket.h"
#include "lab/switch/LabIaxFrame.h"

// The reliable exchange of one pair of call numbers with one peer: sequence numbers,
// timestamps, acknowledgements, and the retransmission of what this side sent until the peer
// acknowledges it or the retries run out. A registration and a call are each one session.
class LabIaxSession {
public:
    using Clock = std::chrono::steady_clock;

    enum class Purpose { Registration, Call };
    enum class Arrival { InOrder, Duplicate, OutOfOrder };

    struct Retransmissions {
        std::vector<LabIaxFullFrame> frames;
        bool gaveUp = false;
    };

    LabIaxSession(Purpose purpose, std::uint16_t localCall, LabUdpAddress peer, std::uint16_t remoteCall,
                  Clock::time_point start);

    Purpose purpose() const { return purpose_; }
    std::uint16_t localCall() const { return localCall_; }
    std::uint16_t remoteCall() const { return remoteCall_; }
    // An originated call learns the peer's call number from its first answer.
    void learnRemoteCall(std::uint16_t remoteCall) { remoteCall_ = remoteCall; }
    const LabUdpAddress& peer() const { return peer_; }

    // The next full frame from this side, numbered and stamped (with `timestamp` when given,
    // as voice and echoed timing frames need). Kept for retransmission unless it is of the
    // kinds that are never acknowledged.
    LabIaxFullFrame send(std::uint8_t type, std::uint32_t subclass, std::string payload, Clock::time_point now,
                         std::optional<std::uint32_t> timestamp = {});
    // The ACK of a received frame: its timestamp, this side's sequence numbers.
    LabIaxFullFrame acknowledgement(const LabIaxFullFrame& received) const;
    // Checks an arriving frame's sequence number and advances the inbound count; takes its
    // acknowledgement of what this side sent in any case.
    Arrival receive(const LabIaxFullFrame& frame);

    // The frames whose retransmission is due, marked as retransmissions.
    Retransmissions due(Clock::time_point now);
    // Every unacknowledged frame again, as a VNAK asks.
    std::vector<LabIaxFullFrame> unacknowledged() const;
    std::optional<Clock::time_point> nextDue() const;
    std::uint32_t timestamp(Clock::time_point now) const;

    // Authentication of the request that opened the session: its user, the challenge sent,
    // and the request's elements (kept until the challenge is answered).
    std::string user;
    std::string challenge;
    std::string request;
    // The call this session carries (0: none yet, or a registration).
    int callId = 0;

    // Set once the exchange is over: the session stays to answer retransmissions until then.
    std::optional<Clock::time_point> closeAt;

private:
    struct Pending {
        LabIaxFullFrame frame;
        Clock::time_point due;
        Clock::duration wait;
        int retries = 0;
    };

    void takeAcknowledgement(std::uint8_t iseqno);

    Purpose purpose_;
    std::uint16_t localCall_;
    LabUdpAddress peer_;
    std::uint16_t remoteCall_;
    Clock::time_point start_;
    std::uint8_t oseqno_ = 0;
    std::uint8_t iseqno_ = 0;
    std::int64_t lastTimestamp_ = -1;
    std::vector<Pending> pending_;
};

// Frames that leave the sequence numbers alone and are never acknowledged.
bool labIaxUncounted(const LabIaxFullFrame& frame);
