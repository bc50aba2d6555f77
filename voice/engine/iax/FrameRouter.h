#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "voice/engine/iax/DialogTable.h"
#include "voice/engine/iax/IaxElements.h"
#include "voice/engine/iax/Lines.h"
#include "voice/engine/iax/LogThrottle.h"
#include "voice/engine/iax/Outbox.h"
#include "voice/engine/iax/Registrations.h"

namespace iax {

// Takes every received datagram to the dialog it belongs to, does the work every dialog
// shares (sequence checks, ACK, PING/PONG, LAGRQ/LAGRP, VNAK, INVAL, call tokens), hands the
// rest to the lines or the registrations, and runs the timers.
class FrameRouter {
public:
    FrameRouter(DialogTable& dialogs, Lines& lines, Registrations& registrations, DatagramSender& out, Outbox& outbox,
                LogThrottle& throttle);

    void receive(std::span<const std::uint8_t> datagram, const PeerAddress& from, Clock::time_point now);
    void dropOversized(std::size_t size, const PeerAddress& from, Clock::time_point now);
    // Resends, give-ups, registration refreshes, keep-alives.
    void tick(Clock::time_point now);
    // When tick() has work next; nothing when only a datagram can bring any.
    std::optional<Clock::time_point> nextDue() const;

private:
    void receiveFull(const FullFrame& frame, const PeerAddress& from, Clock::time_point now);
    void receiveMini(const MiniFrame& frame, const PeerAddress& from, Clock::time_point now);
    // A frame for call number 0 that no dialog knows: a NEW, a POKE, or nothing we take.
    void receiveUnsolicited(const FullFrame& frame, const PeerAddress& from, Clock::time_point now);
    void process(Dialog& dialog, const FullFrame& frame, Clock::time_point now);
    void processUnsequenced(Dialog& dialog, const FullFrame& frame, Clock::time_point now);
    bool answerTiming(Dialog& dialog, const FullFrame& frame, Clock::time_point now);
    void dispatch(Dialog& dialog, const FullFrame& frame, const ElementList& elements, Clock::time_point now);
    void callToken(Dialog& dialog, const FullFrame& frame, Clock::time_point now);
    // The dialog's peer is gone: its owner hears of it, the dialog is forgotten.
    void lost(Dialog& dialog, Clock::time_point now);
    // A frame nothing here takes: logged and reported as a result event (on call `callNo`, or
    // none when -1), both within the log's budget.
    void unhandled(int callNo, const FullFrame& frame, const PeerAddress& from, Clock::time_point now);
    std::optional<ElementList> elementsOf(const FullFrame& frame, const PeerAddress& from, Clock::time_point now);

    DialogTable& dialogs_;
    Lines& lines_;
    Registrations& registrations_;
    DatagramSender& out_;
    Outbox& outbox_;
    LogThrottle& throttle_;
};

}  // namespace iax
