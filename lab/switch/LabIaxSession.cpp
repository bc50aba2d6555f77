#include "lab/switch/LabIaxSession.h"

#include <algorithm>

#include "infra/Timing.h"
#include "lab/switch/LabIaxProtocol.h"

namespace {

using namespace std::chrono_literals;

// A loopback peer under a sanitizer may take tens of milliseconds to answer; scaled-down
// test runs must not give up on it.
constexpr auto kShortestRetransmitWait = 50ms;

bool before(std::uint8_t sequence, std::uint8_t bound) {
    const auto distance = static_cast<std::uint8_t>(bound - sequence);
    return distance >= 1 && distance <= 128;
}

std::chrono::steady_clock::duration firstRetransmitWait() {
    return std::max<std::chrono::steady_clock::duration>(Timing::scaled(intervals::kLabSwitchRetransmit),
                                                         kShortestRetransmitWait);
}

}  // namespace

bool labIaxUncounted(const LabIaxFullFrame& frame) {
    using namespace labiax::iax;
    if (frame.type != labiax::frame::Iax) return false;
    return frame.subclass == Ack || frame.subclass == Inval || frame.subclass == Vnak || frame.subclass == TxCnt ||
           frame.subclass == TxAcc;
}

LabIaxSession::LabIaxSession(Purpose purpose, std::uint16_t localCall, LabUdpAddress peer, std::uint16_t remoteCall,
                             Clock::time_point start)
    : purpose_(purpose), localCall_(localCall), peer_(peer), remoteCall_(remoteCall), start_(start) {}

std::uint32_t LabIaxSession::timestamp(Clock::time_point now) const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count();
    return static_cast<std::uint32_t>(std::max<std::int64_t>(elapsed, 0));
}

LabIaxFullFrame LabIaxSession::send(std::uint8_t type, std::uint32_t subclass, std::string payload, Clock::time_point now,
                                    std::optional<std::uint32_t> timestamp) {
    LabIaxFullFrame frame;
    frame.sourceCall = localCall_;
    frame.destinationCall = remoteCall_;
    frame.type = type;
    frame.subclass = subclass;
    frame.payload = std::move(payload);
    frame.oseqno = oseqno_;
    frame.iseqno = iseqno_;
    if (timestamp) {
        frame.timestamp = *timestamp;
    } else {
        lastTimestamp_ = std::max<std::int64_t>(this->timestamp(now), lastTimestamp_ + 1);
        frame.timestamp = static_cast<std::uint32_t>(lastTimestamp_);
    }
    if (labIaxUncounted(frame)) return frame;
    ++oseqno_;
    pending_.push_back({frame, now + firstRetransmitWait(), firstRetransmitWait()});
    return frame;
}

LabIaxFullFrame LabIaxSession::acknowledgement(const LabIaxFullFrame& received) const {
    LabIaxFullFrame ack;
    ack.sourceCall = localCall_;
    ack.destinationCall = remoteCall_;
    ack.timestamp = received.timestamp;
    ack.oseqno = oseqno_;
    ack.iseqno = iseqno_;
    ack.type = labiax::frame::Iax;
    ack.subclass = labiax::iax::Ack;
    return ack;
}

LabIaxSession::Arrival LabIaxSession::receive(const LabIaxFullFrame& frame) {
    takeAcknowledgement(frame.iseqno);
    if (labIaxUncounted(frame)) return Arrival::InOrder;
    if (frame.oseqno == iseqno_) {
        ++iseqno_;
        return Arrival::InOrder;
    }
    return before(frame.oseqno, iseqno_) ? Arrival::Duplicate : Arrival::OutOfOrder;
}

void LabIaxSession::takeAcknowledgement(std::uint8_t iseqno) {
    std::erase_if(pending_, [iseqno](const Pending& pending) { return before(pending.frame.oseqno, iseqno); });
}

LabIaxSession::Retransmissions LabIaxSession::due(Clock::time_point now) {
    Retransmissions result;
    for (Pending& pending : pending_) {
        if (pending.due > now) continue;
        if (pending.retries == intervals::kLabSwitchRetransmissions) {
            result.gaveUp = true;
            continue;
        }
        ++pending.retries;
        pending.wait *= 2;
        pending.due = now + pending.wait;
        pending.frame.retransmission = true;
        result.frames.push_back(pending.frame);
    }
    if (result.gaveUp) pending_.clear();
    return result;
}

std::vector<LabIaxFullFrame> LabIaxSession::unacknowledged() const {
    std::vector<LabIaxFullFrame> frames;
    for (const Pending& pending : pending_) {
        frames.push_back(pending.frame);
        frames.back().retransmission = true;
    }
    return frames;
}

std::optional<LabIaxSession::Clock::time_point> LabIaxSession::nextDue() const {
    std::optional<Clock::time_point> next = closeAt;
    for (const Pending& pending : pending_)
        if (!next || pending.due < *next) next = pending.due;
    return next;
}
