#include "lab/switch/LabIaxSessions.h"

#include "infra/Timing.h"
#include "lab/switch/LabIaxDescription.h"
#include "lab/switch/LabIaxProtocol.h"

namespace {
constexpr std::uint16_t kFirstCall = LabIaxSessions::kStatelessCall + 1;
constexpr std::uint16_t kLargestCall = 0x7fff;
}

LabIaxSession* LabIaxSessions::open(LabIaxSession::Purpose purpose, const LabUdpAddress& peer, std::uint16_t remoteCall,
                                    Clock::time_point now) {
    if (sessions_.size() >= kMaxSessions) return nullptr;
    const std::uint16_t call = freeCallNumber();
    return &sessions_.try_emplace(call, purpose, call, peer, remoteCall, now).first->second;
}

std::uint16_t LabIaxSessions::freeCallNumber() {
    const auto advance = [this] { nextCall_ = nextCall_ >= kLargestCall ? kFirstCall : nextCall_ + 1; };
    while (sessions_.count(nextCall_)) advance();
    const std::uint16_t call = nextCall_;
    advance();
    return call;
}

LabIaxSession* LabIaxSessions::find(std::uint16_t localCall) {
    const auto found = sessions_.find(localCall);
    return found == sessions_.end() ? nullptr : &found->second;
}

LabIaxSession* LabIaxSessions::findByRemote(const LabUdpAddress& peer, std::uint16_t remoteCall) {
    LabIaxSession* closing = nullptr;
    for (auto& [call, session] : sessions_) {
        if (session.peer() != peer || session.remoteCall() != remoteCall) continue;
        if (!session.closeAt) return &session;
        closing = &session;
    }
    return closing;
}

void LabIaxSessions::remove(std::uint16_t localCall) { sessions_.erase(localCall); }

void LabIaxSessions::closeLater(LabIaxSession& session, Clock::time_point now) {
    if (!session.closeAt) session.closeAt = now + Timing::scaled(intervals::kLabSwitchLinger);
}

void LabIaxSessions::send(LabIaxSession& session, std::uint8_t type, std::uint32_t subclass, std::string payload,
                          Clock::time_point now, std::optional<std::uint32_t> timestamp) {
    transmit(session.peer(), session.send(type, subclass, std::move(payload), now, timestamp));
}

void LabIaxSessions::sendIax(LabIaxSession& session, std::uint32_t subclass, const LabIaxElements& elements,
                             Clock::time_point now, std::optional<std::uint32_t> timestamp) {
    send(session, labiax::frame::Iax, subclass, elements.encode(), now, timestamp);
}

void LabIaxSessions::acknowledge(LabIaxSession& session, const LabIaxFullFrame& received) {
    transmit(session.peer(), session.acknowledgement(received));
}

void LabIaxSessions::sendMini(const LabIaxSession& session, std::uint16_t timestamp, std::string payload) {
    transmit_(session.peer(), LabIaxMiniFrame{session.localCall(), timestamp, std::move(payload)}.encode(), {});
}

void LabIaxSessions::sendStateless(const LabUdpAddress& peer, const LabIaxFullFrame& answered, std::uint32_t subclass,
                                   const LabIaxElements& elements) {
    LabIaxFullFrame frame;
    frame.sourceCall = subclass == labiax::iax::Inval ? answered.destinationCall : kStatelessCall;
    frame.destinationCall = answered.sourceCall;
    frame.timestamp = answered.timestamp;
    frame.oseqno = answered.iseqno;
    frame.iseqno = static_cast<std::uint8_t>(answered.oseqno + 1);
    frame.type = labiax::frame::Iax;
    frame.subclass = subclass;
    frame.payload = elements.encode();
    transmit(peer, frame);
}

void LabIaxSessions::transmit(const LabUdpAddress& peer, const LabIaxFullFrame& frame) {
    transmit_(peer, frame.encode(), describeLabIaxFrame(frame) + (frame.retransmission ? " (again)" : ""));
}

std::vector<int> LabIaxSessions::onTimer(Clock::time_point now) {
    std::vector<int> lost;
    for (auto entry = sessions_.begin(); entry != sessions_.end();) {
        LabIaxSession& session = entry->second;
        auto retransmissions = session.due(now);
        for (const LabIaxFullFrame& frame : retransmissions.frames) transmit(session.peer(), frame);
        const bool expired = session.closeAt && *session.closeAt <= now;
        if (retransmissions.gaveUp && !session.closeAt && session.callId) lost.push_back(session.callId);
        entry = retransmissions.gaveUp || expired ? sessions_.erase(entry) : std::next(entry);
    }
    return lost;
}

std::optional<LabIaxSessions::Clock::time_point> LabIaxSessions::nextDue() const {
    std::optional<Clock::time_point> next;
    for (const auto& [call, session] : sessions_) {
        const auto due = session.nextDue();
        if (due && (!next || *due < *next)) next = due;
    }
    return next;
}
