#include "lab/switch/LabSwitchEngine.h"

#include <algorithm>

#include "infra/Timing.h"
#include "lab/switch/LabIaxDescription.h"
#include "lab/switch/LabIaxProtocol.h"

namespace {
namespace iax = labiax::iax;
}

LabSwitchEngine::LabSwitchEngine(LabSwitchOptions options, LabIaxTransmit transmit, LabLog log, LabRecorder& frames)
    : options_(std::move(options)),
      log_(std::move(log)),
      frames_(frames),
      sessions_(std::move(transmit)),
      registrar_(sessions_, options_, log_),
      calls_(sessions_, options_, log_) {}

void LabSwitchEngine::onDatagram(std::string_view bytes, const LabUdpAddress& from, Clock::time_point now) {
    LabIaxParseResult parsed = parseLabIaxDatagram(bytes);
    if (!parsed.datagram) {
        log_("<< bad datagram from " + from.toString() + ": " + parsed.error + ", dropped");
        return;
    }
    if (auto* full = std::get_if<LabIaxFullFrame>(&*parsed.datagram)) return onFullFrame(*full, from, now);
    if (auto* mini = std::get_if<LabIaxMiniFrame>(&*parsed.datagram)) return onMiniFrame(*mini, from);
    log_("<< " + std::get<LabIaxMetaFrame>(*parsed.datagram).kind + " meta frame from " + from.toString() + ", ignored");
}

void LabSwitchEngine::onFullFrame(const LabIaxFullFrame& frame, const LabUdpAddress& from, Clock::time_point now) {
    const std::string line = describeLabIaxFrame(frame);
    frames_.add(line);
    log_("<< " + line + (frame.retransmission ? " (again)" : "") + "  [" + from.toString() + " call " +
         std::to_string(frame.sourceCall) + "->" + std::to_string(frame.destinationCall) + "]");
    if (options_.registrationMode == LabRegistrationMode::Silent) return;
    if (frame.destinationCall == 0) {
        // A new request, unless it repeats one whose exchange is still open.
        const LabIaxSession* known = sessions_.findByRemote(from, frame.sourceCall);
        if (!known || (known->closeAt && !frame.retransmission)) return openExchange(frame, from, now);
    }
    LabIaxSession* session = sessionFor(frame, from);
    if (!session) {
        log_("frame for unknown call " + std::to_string(frame.destinationCall) + " from " + from.toString());
        if (!labIaxUncounted(frame)) sessions_.sendStateless(from, frame, iax::Inval);
        return;
    }
    onSessionFrame(*session, frame, now);
}

LabIaxSession* LabSwitchEngine::sessionFor(const LabIaxFullFrame& frame, const LabUdpAddress& from) {
    if (frame.destinationCall == 0) return sessions_.findByRemote(from, frame.sourceCall);
    LabIaxSession* session = sessions_.find(frame.destinationCall);
    if (!session || session->peer() != from) return nullptr;
    if (session->remoteCall() == 0) session->learnRemoteCall(frame.sourceCall);
    return session->remoteCall() == frame.sourceCall ? session : nullptr;
}

void LabSwitchEngine::onSessionFrame(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now) {
    switch (session.receive(frame)) {
        case LabIaxSession::Arrival::Duplicate:
            sessions_.acknowledge(session, frame);
            return;
        case LabIaxSession::Arrival::OutOfOrder:
            log_("frame out of order on call " + std::to_string(session.localCall()) + ", VNAK");
            sessions_.send(session, labiax::frame::Iax, iax::Vnak, {}, now);
            return;
        case LabIaxSession::Arrival::InOrder: break;
    }
    if (session.purpose() == LabIaxSession::Purpose::Registration)
        registrar_.onFrame(session, frame, now);
    else
        calls_.onFrame(session, frame, now);
}

void LabSwitchEngine::openExchange(const LabIaxFullFrame& frame, const LabUdpAddress& from, Clock::time_point now) {
    if (frame.type != labiax::frame::Iax) {
        log_("frame that opens no exchange from " + from.toString() + ", INVAL");
        return sessions_.sendStateless(from, frame, iax::Inval);
    }
    switch (frame.subclass) {
        case iax::RegReq:
        case iax::RegRel:
            if (tokenAccepted(frame, from, now)) registrar_.onRequest(frame, from, now);
            return;
        case iax::New:
            if (tokenAccepted(frame, from, now)) calls_.onNew(frame, from, now);
            return;
        case iax::Poke:
        case iax::Ping: return sessions_.sendStateless(from, frame, iax::Pong);
        case iax::Ack:
        case iax::Inval:
        case iax::Vnak: return;
        default:
            log_("IAX frame that opens no exchange from " + from.toString() + ", INVAL");
            return sessions_.sendStateless(from, frame, iax::Inval);
    }
}

// Asterisk's rule, for NEW, REGREQ and REGREL alike: a request without the element is refused,
// an empty or stale token is answered with a fresh one, and the request must come again
// carrying it.
bool LabSwitchEngine::tokenAccepted(const LabIaxFullFrame& frame, const LabUdpAddress& from, Clock::time_point now) {
    if (!options_.callTokens) return true;
    const auto token = frame.elements().text(labiax::ie::CallToken);
    if (!token) {
        log_("request without a call token from " + from.toString() + ", refused");
        const bool registration = frame.subclass == iax::RegReq || frame.subclass == iax::RegRel;
        sessions_.sendStateless(from, frame, registration ? iax::RegRej : iax::Reject,
                                LabIaxElements::cause("Call token required", labiax::cause::FacilityRejected));
        return false;
    }
    if (tokens_.valid(*token, from, now, Timing::scaled(intervals::kLabSwitchCallTokenLifetime))) return true;
    LabIaxElements fresh;
    fresh.add(labiax::ie::CallToken, tokens_.issue(from, now));
    sessions_.sendStateless(from, frame, iax::CallToken, fresh);
    return false;
}

void LabSwitchEngine::onMiniFrame(const LabIaxMiniFrame& frame, const LabUdpAddress& from) {
    if (options_.registrationMode == LabRegistrationMode::Silent) return;
    const LabIaxSession* session = sessions_.findByRemote(from, frame.sourceCall);
    if (!session || session->purpose() != LabIaxSession::Purpose::Call) {
        log_("mini frame of unknown call " + std::to_string(frame.sourceCall) + " from " + from.toString() + ", dropped");
        return;
    }
    calls_.onMini(*session, frame);
}

void LabSwitchEngine::onTimer(Clock::time_point now) {
    for (const int id : sessions_.onTimer(now)) calls_.onSessionLost(id);
    calls_.onTimer(now);
}

std::optional<LabSwitchEngine::Clock::time_point> LabSwitchEngine::nextDue() const {
    const auto sessions = sessions_.nextDue();
    const auto calls = calls_.nextDue();
    if (!sessions) return calls;
    if (!calls) return sessions;
    return std::min(*sessions, *calls);
}
