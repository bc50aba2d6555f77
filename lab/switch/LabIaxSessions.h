#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lab/switch/LabIaxElements.h"
#include "lab/switch/LabIaxSession.h"

// Where the switch's datagrams go out: the bytes, and for full frames the readable line.
using LabIaxTransmit = std::function<void(const LabUdpAddress& to, const std::string& bytes, const std::string& line)>;

// The switch's open sessions by its own call number, and the sending of frames on them: the
// one place that turns frames into datagrams.
class LabIaxSessions {
public:
    using Clock = LabIaxSession::Clock;
    static constexpr std::size_t kMaxSessions = 512;
    // The source call number of answers that belong to no session (call tokens, refusals).
    static constexpr std::uint16_t kStatelessCall = 1;

    explicit LabIaxSessions(LabIaxTransmit transmit) : transmit_(std::move(transmit)) {}

    // A new session with a free call number; nothing when kMaxSessions are open.
    LabIaxSession* open(LabIaxSession::Purpose purpose, const LabUdpAddress& peer, std::uint16_t remoteCall,
                        Clock::time_point now);
    LabIaxSession* find(std::uint16_t localCall);
    // The session a peer's call number belongs to, an open one before one that is closing.
    LabIaxSession* findByRemote(const LabUdpAddress& peer, std::uint16_t remoteCall);
    void remove(std::uint16_t localCall);
    // Ends the exchange: the session lingers a while to answer the peer's retransmissions.
    void closeLater(LabIaxSession& session, Clock::time_point now);
    std::size_t size() const { return sessions_.size(); }

    void send(LabIaxSession& session, std::uint8_t type, std::uint32_t subclass, std::string payload,
              Clock::time_point now, std::optional<std::uint32_t> timestamp = {});
    void sendIax(LabIaxSession& session, std::uint32_t subclass, const LabIaxElements& elements, Clock::time_point now,
                 std::optional<std::uint32_t> timestamp = {});
    void acknowledge(LabIaxSession& session, const LabIaxFullFrame& received);
    void sendMini(const LabIaxSession& session, std::uint16_t timestamp, std::string payload);
    // An answer outside any session, to the frame `answered` from `peer`.
    void sendStateless(const LabUdpAddress& peer, const LabIaxFullFrame& answered, std::uint32_t subclass,
                       const LabIaxElements& elements = {});
    void transmit(const LabUdpAddress& peer, const LabIaxFullFrame& frame);

    // Sends due retransmissions and drops lingering sessions whose time is up. Returns the
    // call ids of open call sessions whose retries ran out (they are removed).
    std::vector<int> onTimer(Clock::time_point now);
    std::optional<Clock::time_point> nextDue() const;

private:
    std::uint16_t freeCallNumber();

    LabIaxTransmit transmit_;
    std::map<std::uint16_t, LabIaxSession> sessions_;
    std::uint16_t nextCall_ = 2;
};
