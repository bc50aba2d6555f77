#include "voice/engine/iax/FrameRouter.h"

#include "infra/CLogger.h"
#include "voice/engine/iax/IaxWire.h"

namespace iax {
namespace {
// Ownerless dialogs (answered POKEs, refused calls, ended calls) kept at once; more are not
// started, so a flood of requests cannot grow the table without bound.
constexpr int kMaxOwnerless = 64;

bool isIax(const FullFrame& frame, std::uint32_t command) { return frame.type == kIax && frame.subclass == command; }
}  // namespace

FrameRouter::FrameRouter(DialogTable& dialogs, Lines& lines, Registrations& registrations, DatagramSender& out,
                         Outbox& outbox, LogThrottle& throttle)
    : dialogs_(dialogs), lines_(lines), registrations_(registrations), out_(out), outbox_(outbox), throttle_(throttle) {}

void FrameRouter::receive(std::span<const std::uint8_t> datagram, const PeerAddress& from, Clock::time_point now) {
    const Datagram parsed = parseDatagram(datagram);
    switch (parsed.kind) {
    case Datagram::Kind::Full:
        receiveFull(parsed.full, from, now);
        return;
    case Datagram::Kind::Mini:
        receiveMini(parsed.mini, from, now);
        return;
    case Datagram::Kind::Meta:
        throttle_.log(LogThrottle::Malformed, LogLevel::Warning, now, "FrameRouter: Ignored a meta frame from %s",
                      from.text().c_str());
        return;
    case Datagram::Kind::Malformed:
        throttle_.log(LogThrottle::Malformed, LogLevel::Warning, now,
                      "FrameRouter: Ignored a datagram of %zu bytes from %s: %s", datagram.size(), from.text().c_str(),
                      parsed.problem);
        return;
    }
}

void FrameRouter::dropOversized(std::size_t size, const PeerAddress& from, Clock::time_point now) {
    throttle_.log(LogThrottle::Malformed, LogLevel::Warning, now,
                  "FrameRouter: Ignored a datagram of %zu bytes from %s: too large", size, from.text().c_str());
}

void FrameRouter::receiveMini(const MiniFrame& frame, const PeerAddress& from, Clock::time_point now) {
    Dialog* dialog = dialogs_.findByPeer(from, frame.sourceCall);
    if (!dialog || dialog->owner.kind != DialogOwner::Kind::Line) {
        throttle_.log(LogThrottle::Stray, LogLevel::Warning, now,
                      "FrameRouter: Ignored voice for an unknown call %u from %s", frame.sourceCall,
                      from.text().c_str());
        return;
    }
    dialog->lastHeard = now;
    lines_.receiveMini(*dialog, frame);
}

void FrameRouter::receiveFull(const FullFrame& frame, const PeerAddress& from, Clock::time_point now) {
    Dialog* dialog = frame.destinationCall ? dialogs_.find(frame.destinationCall) : dialogs_.findByPeer(from, frame.sourceCall);
    if (!dialog && frame.destinationCall == 0) {
        receiveUnsolicited(frame, from, now);
        return;
    }
    const bool strangerCall = dialog && dialog->peerCall() != 0 && dialog->peerCall() != frame.sourceCall;
    if (!dialog || !(dialog->peer() == from) || strangerCall) {
        throttle_.log(LogThrottle::Stray, LogLevel::Warning, now,
                      "FrameRouter: Ignored frame type %d subclass %u for unknown call %u from %s", frame.type,
                      frame.subclass, frame.destinationCall, from.text().c_str());
        return;
    }
    process(*dialog, frame, now);
}

void FrameRouter::receiveUnsolicited(const FullFrame& frame, const PeerAddress& from, Clock::time_point now) {
    const bool opensDialog = isIax(frame, kNew) || isIax(frame, kPoke);
    if (!opensDialog && isUnsequenced(frame.type, frame.subclass)) {
        throttle_.log(LogThrottle::Stray, LogLevel::Warning, now,
                      "FrameRouter: Ignored frame type %d subclass %u for no call from %s", frame.type, frame.subclass,
                      from.text().c_str());
        return;
    }
    if (!opensDialog) {
        unhandled(-1, frame, from, now);
        return;
    }
    if (dialogs_.ownerless() >= kMaxOwnerless) {
        throttle_.log(LogThrottle::Stray, LogLevel::Warning, now,
                      "FrameRouter: Too many open exchanges, ignored a request from %s", from.text().c_str());
        return;
    }
    Dialog* dialog = dialogs_.open(from, {}, now);
    if (!dialog) return;
    dialog->setPeerCall(frame.sourceCall);
    process(*dialog, frame, now);
}

void FrameRouter::process(Dialog& dialog, const FullFrame& frame, Clock::time_point now) {
    if (isIax(frame, kCallToken)) {
        callToken(dialog, frame, now);
        return;
    }
    const auto elements = elementsOf(frame, dialog.peer(), now);
    if (!elements) return;
    switch (dialog.receive(frame, out_, now)) {
    case Dialog::Receipt::Unsequenced:
        processUnsequenced(dialog, frame, now);
        return;
    case Dialog::Receipt::Duplicate:
        return;
    case Dialog::Receipt::OutOfOrder:
        throttle_.log(LogThrottle::Sequence, LogLevel::Warning, now,
                      "FrameRouter: Frame %u out of order from %s, asked for a resend", frame.oseq,
                      dialog.peer().text().c_str());
        return;
    case Dialog::Receipt::Deliver:
        break;
    }
    if (dialog.peerCall() == 0) dialog.setPeerCall(frame.sourceCall);
    dialog.acknowledge(frame, out_);
    if (!answerTiming(dialog, frame, now)) dispatch(dialog, frame, *elements, now);
}

void FrameRouter::processUnsequenced(Dialog& dialog, const FullFrame& frame, Clock::time_point now) {
    if (frame.subclass == kVnak) {
        dialog.resendAll(out_, now);
    } else if (frame.subclass == kInval) {
        throttle_.log(LogThrottle::Exchange, LogLevel::Warning, now, "FrameRouter: %s does not know call %u",
                      dialog.peer().text().c_str(), dialog.localCall());
        lost(dialog, now);
    }
}

bool FrameRouter::answerTiming(Dialog& dialog, const FullFrame& frame, Clock::time_point now) {
    if (frame.type != kIax) return false;
    switch (frame.subclass) {
    case kPing:
    case kPoke:
        dialog.send(out_, kIax, kPong, {}, now, frame.timestamp);
        return true;
    case kLagRq:
        dialog.send(out_, kIax, kLagRp, {}, now, frame.timestamp);
        return true;
    case kPong:
    case kLagRp:
        return true;
    default:
        return false;
    }
}

void FrameRouter::dispatch(Dialog& dialog, const FullFrame& frame, const ElementList& elements, Clock::time_point now) {
    switch (dialog.owner.kind) {
    case DialogOwner::Kind::Line:
        if (!lines_.handle(dialog, frame, elements, now)) unhandled(dialog.owner.id, frame, dialog.peer(), now);
        return;
    case DialogOwner::Kind::Registration:
        if (!registrations_.handle(dialog, frame, elements, now)) unhandled(-1, frame, dialog.peer(), now);
        return;
    case DialogOwner::Kind::None:
        if (isIax(frame, kNew)) {  // only a fresh dialog takes a NEW in order
            lines_.offer(dialog, elements, now);
            return;
        }
        if (dialog.hangUpWhenHeard && !isIax(frame, kHangup) && !isIax(frame, kReject)) {
            dialog.send(out_, kIax, kHangup, causeElements("Dumped Call", kCauseNormalClearing), now);
        }
        dialog.hangUpWhenHeard = false;
        return;
    }
}

void FrameRouter::callToken(Dialog& dialog, const FullFrame& frame, Clock::time_point now) {
    const auto elements = elementsOf(frame, dialog.peer(), now);
    const auto token = elements ? elements->text(kCallTokenElement) : std::nullopt;
    if (!token || token->empty() || dialog.peerCall() != 0) {
        throttle_.log(LogThrottle::Stray, LogLevel::Warning, now, "FrameRouter: Ignored a call token from %s",
                      dialog.peer().text().c_str());
        return;
    }
    if (dialog.owner.kind == DialogOwner::Kind::Line) lines_.callToken(dialog, *token, now);
    if (dialog.owner.kind == DialogOwner::Kind::Registration) registrations_.callToken(dialog, *token, now);
}

void FrameRouter::lost(Dialog& dialog, Clock::time_point now) {
    if (dialog.owner.kind == DialogOwner::Kind::Line) lines_.lost(dialog, now);
    if (dialog.owner.kind == DialogOwner::Kind::Registration) registrations_.lost(dialog, now);
    dialogs_.forget(dialog.localCall());
}

void FrameRouter::unhandled(int callNo, const FullFrame& frame, const PeerAddress& from, Clock::time_point now) {
    const auto kind = callNo < 0 ? LogThrottle::UnhandledNoCall : LogThrottle::UnhandledOnCall;
    if (!throttle_.log(kind, LogLevel::Debug, now,
                       "FrameRouter: Unhandled frame type %d subclass %u on call %d from %s", frame.type,
                       frame.subclass, callNo, from.text().c_str()))
        return;
    outbox_.postResult(callNo, callNo < 0 ? VoiceEvent::UnhandledNoCall : VoiceEvent::UnhandledOnCall, "");
}

std::optional<ElementList> FrameRouter::elementsOf(const FullFrame& frame, const PeerAddress& from,
                                                   Clock::time_point now) {
    if (frame.type != kIax) return ElementList{};
    auto elements = ElementList::parse(frame.payload);
    if (!elements)
        throttle_.log(LogThrottle::Malformed, LogLevel::Warning, now,
                      "FrameRouter: Ignored IAX subclass %u from %s: truncated element", frame.subclass,
                      from.text().c_str());
    return elements;
}

void FrameRouter::tick(Clock::time_point now) {
    for (Dialog* dialog : dialogs_.retransmit(out_, now)) {
        logMessage(LogLevel::Warning, "FrameRouter: %s stopped acknowledging call %u, giving up",
                   dialog->peer().text().c_str(), dialog->localCall());
        lost(*dialog, now);
    }
    registrations_.refresh(now);
    lines_.ping(now);
    dialogs_.sweep(now);
}

std::optional<Clock::time_point> FrameRouter::nextDue() const {
    return earlier(dialogs_.nextDue(), earlier(registrations_.nextDue(), lines_.nextDue()));
}

}  // namespace iax
