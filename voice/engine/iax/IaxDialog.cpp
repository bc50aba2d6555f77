#include "voice/engine/iax/IaxDialog.h"

#include <algorithm>

#include "infra/Timing.h"
#include "voice/engine/iax/IaxWire.h"

namespace iax {
namespace {
// Half the sequence space: a frame at most this far behind is a duplicate, further is ahead.
constexpr std::uint8_t kWindow = 128;

bool isBefore(std::uint8_t seq, std::uint8_t reference) {
    const std::uint8_t distance = static_cast<std::uint8_t>(reference - seq);
    return distance >= 1 && distance <= kWindow;
}
}  // namespace

Dialog::Dialog(std::uint16_t localCall, PeerAddress peer, Clock::time_point start)
    : lastHeard(start), lingerUntil(start), localCall_(localCall), peer_(peer), start_(start) {}

std::uint32_t Dialog::elapsedMs(Clock::time_point now) const {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count());
}

Dialog::Receipt Dialog::receive(const FullFrame& frame, DatagramSender& out, Clock::time_point now) {
    lastHeard = now;
    acknowledgedBefore(frame.iseq);
    if (isUnsequenced(frame.type, frame.subclass)) return Receipt::Unsequenced;
    if (frame.oseq == iseq_) {
        ++iseq_;
        return Receipt::Deliver;
    }
    if (isBefore(frame.oseq, iseq_)) {
        acknowledge(frame, out);
        return Receipt::Duplicate;
    }
    sendUnsequenced(out, kVnak, frame.sourceCall, elapsedMs(now));
    return Receipt::OutOfOrder;
}

void Dialog::acknowledge(const FullFrame& frame, DatagramSender& out) {
    sendUnsequenced(out, kAck, frame.sourceCall, frame.timestamp);
}

void Dialog::sendUnsequenced(DatagramSender& out, std::uint32_t subclass, std::uint16_t toCall, std::uint32_t timestamp) {
    FullFrame frame;
    frame.sourceCall = localCall_;
    frame.destinationCall = toCall;
    frame.timestamp = timestamp;
    frame.oseq = oseq_;
    frame.iseq = iseq_;
    frame.type = kIax;
    frame.subclass = subclass;
    out.send(peer_, encodeFullFrame(frame));
}

void Dialog::send(DatagramSender& out, std::uint8_t type, std::uint32_t subclass, std::span<const std::uint8_t> payload,
                  Clock::time_point now, std::optional<std::uint32_t> timestamp) {
    FullFrame frame;
    frame.sourceCall = localCall_;
    frame.destinationCall = peerCall_;
    frame.timestamp = timestamp.value_or(std::max(elapsedMs(now), lastTimestamp_));
    frame.oseq = oseq_++;
    frame.iseq = iseq_;
    frame.type = type;
    frame.subclass = subclass;
    frame.payload = payload;
    lastTimestamp_ = std::max(lastTimestamp_, frame.timestamp);
    std::vector<std::uint8_t> bytes = encodeFullFrame(frame);
    out.send(peer_, bytes);
    const Clock::duration first = Timing::scaled(intervals::kIaxRetransmitFirst);
    unacked_.push_back({frame.oseq, std::move(bytes), now, now + first, first});
}

bool Dialog::retransmit(DatagramSender& out, Clock::time_point now) {
    if (unacked_.size() >= kWindow) return false;
    const Clock::duration giveUp = Timing::scaled(intervals::kIaxRetransmitGiveUp);
    const Clock::duration longest = Timing::scaled(intervals::kIaxRetransmitLongest);
    for (Unacked& frame : unacked_) {
        if (now - frame.firstSent >= giveUp) return false;
        if (now < frame.nextSend) continue;
        markRetransmitted(frame.bytes);
        out.send(peer_, frame.bytes);
        frame.interval = std::min(frame.interval * 2, longest);
        frame.nextSend = now + frame.interval;
    }
    return true;
}

std::optional<Clock::time_point> Dialog::nextDue() const {
    std::optional<Clock::time_point> due;
    const Clock::duration giveUp = Timing::scaled(intervals::kIaxRetransmitGiveUp);
    for (const Unacked& frame : unacked_) due = earlier(due, std::min(frame.nextSend, frame.firstSent + giveUp));
    return due;
}

void Dialog::resendAll(DatagramSender& out, Clock::time_point now) {
    for (Unacked& frame : unacked_) frame.nextSend = now;
    retransmit(out, now);
}

void Dialog::restart() {
    oseq_ = 0;
    iseq_ = 0;
    peerCall_ = 0;
    unacked_.clear();
}

void Dialog::acknowledgedBefore(std::uint8_t iseq) {
    std::erase_if(unacked_, [iseq](const Unacked& frame) { return isBefore(frame.oseq, iseq); });
}

}  // namespace iax
