#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "voice/engine/iax/IaxFrame.h"
#include "voice/engine/iax/UdpSocket.h"

namespace iax {

using Clock = std::chrono::steady_clock;

// The earlier of two deadlines, either of which may be missing.
inline std::optional<Clock::time_point> earlier(std::optional<Clock::time_point> a,
                                                std::optional<Clock::time_point> b) {
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

// Who a dialog works for: a line's call, a registration, or nobody (an ended exchange that
// lingers to finish its acknowledgements).
struct DialogOwner {
    enum class Kind { None, Line, Registration };
    Kind kind = Kind::None;
    int id = -1;  // the call number or the registration id
};

// One local call number's reliable stream to a peer: sequence numbers, acknowledgements,
// resends with back-off, and the give-up when the peer stops answering.
class Dialog {
public:
    Dialog(std::uint16_t localCall, PeerAddress peer, Clock::time_point start);

    enum class Receipt {
        Deliver,      // the next frame in order: handle it and acknowledge it
        Unsequenced,  // ACK, VNAK, INVAL and their kind: handle, never acknowledge
        Duplicate,    // seen before: acknowledged again, drop it
        OutOfOrder,   // a frame is missing before it: VNAK sent, drop it
    };
    // Takes the acknowledgement a full frame carries and checks its place in the stream.
    Receipt receive(const FullFrame& frame, DatagramSender& out, Clock::time_point now);
    void acknowledge(const FullFrame& frame, DatagramSender& out);

    // Sends a reliable frame, stamped with the dialog's clock unless `timestamp` is given.
    void send(DatagramSender& out, std::uint8_t type, std::uint32_t subclass, std::span<const std::uint8_t> payload,
              Clock::time_point now, std::optional<std::uint32_t> timestamp = std::nullopt);
    // Resends what is due; false once a frame has gone unacknowledged past the give-up.
    bool retransmit(DatagramSender& out, Clock::time_point now);
    // When retransmit() has work next: a resend or the give-up; nothing while all is acknowledged.
    std::optional<Clock::time_point> nextDue() const;
    // The peer asked (VNAK) for everything it has not acknowledged.
    void resendAll(DatagramSender& out, Clock::time_point now);
    // The peer answered with a call token: it keeps no state, so the exchange starts again.
    void restart();

    bool settled() const { return unacked_.empty(); }
    std::uint32_t elapsedMs(Clock::time_point now) const;
    std::uint16_t localCall() const { return localCall_; }
    std::uint16_t peerCall() const { return peerCall_; }
    void setPeerCall(std::uint16_t call) { peerCall_ = call; }
    const PeerAddress& peer() const { return peer_; }

    DialogOwner owner;
    Clock::time_point lastHeard;      // the last frame of any kind from the peer
    Clock::time_point lingerUntil;    // for an ended dialog: when it may be forgotten
    bool hangUpWhenHeard = false;     // dropped before the peer named its call: tell it once it does

private:
    struct Unacked {
        std::uint8_t oseq;
        std::vector<std::uint8_t> bytes;
        Clock::time_point firstSent;
        Clock::time_point nextSend;
        Clock::duration interval;
    };
    void sendUnsequenced(DatagramSender& out, std::uint32_t subclass, std::uint16_t toCall, std::uint32_t timestamp);
    void acknowledgedBefore(std::uint8_t iseq);

    const std::uint16_t localCall_;
    std::uint16_t peerCall_ = 0;
    const PeerAddress peer_;
    const Clock::time_point start_;
    std::uint8_t oseq_ = 0;
    std::uint8_t iseq_ = 0;
    std::uint32_t lastTimestamp_ = 0;
    std::deque<Unacked> unacked_;
};

}  // namespace iax
