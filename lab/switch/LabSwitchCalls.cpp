#include "lab/switch/LabSwitchCalls.h"

#include <algorithm>

#include "infra/Timing.h"
#include "lab/switch/LabIaxProtocol.h"
#include "lab/switch/LabMd5.h"
#include "lab/switch/LabSwitchRegistrar.h"
#include "lab/switch/LabVoiceCodec.h"

namespace {

using namespace std::chrono_literals;
namespace iax = labiax::iax;
namespace ie = labiax::ie;

const std::string kNoAuthority = "No authority found";
const std::string kNoCodec = "Unable to negotiate codec";
constexpr auto kLongestCatchUp = 100ms;  // a later audio tick skips ahead instead of bursting

std::string textOf(const LabIaxElements& elements, std::uint8_t id) { return elements.text(id).value_or(""); }

std::string causeOf(const LabIaxFullFrame& frame, const std::string& fallback) {
    const std::string cause = textOf(frame.elements(), ie::Cause);
    return cause.empty() ? fallback : cause;
}

}  // namespace

void LabSwitchCalls::onNew(const LabIaxFullFrame& frame, const LabUdpAddress& peer, Clock::time_point now) {
    const std::string user = textOf(frame.elements(), ie::Username);
    if (user.empty() || !options_.users.count(user)) {
        log_("NEW from " + peer.toString() + " refused: " + (user.empty() ? "no user name" : "unknown user " + user));
        sessions_.sendStateless(peer, frame, iax::Reject,
                                LabIaxElements::cause(kNoAuthority, labiax::cause::FacilityNotSubscribed));
        return;
    }
    LabIaxSession* session = sessions_.open(LabIaxSession::Purpose::Call, peer, frame.sourceCall, now);
    if (!session) {
        log_("NEW from " + peer.toString() + " refused: too many open exchanges");
        sessions_.sendStateless(peer, frame, iax::Reject, LabIaxElements::cause("Too many calls", labiax::cause::CallRejected));
        return;
    }
    session->receive(frame);
    session->user = user;
    session->challenge = labIaxChallenge();
    session->request = frame.payload;
    LabIaxElements challenge;
    challenge.addU16(ie::AuthMethods, labiax::kAuthMd5).add(ie::Challenge, session->challenge).add(ie::Username, user);
    sessions_.sendIax(*session, iax::AuthReq, challenge, now);
}

void LabSwitchCalls::onFrame(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now) {
    const auto call = calls_.find(session.callId);
    if (call == calls_.end()) return authenticate(session, frame, now);
    onCallFrame(call->second, session, frame, now);
}

void LabSwitchCalls::authenticate(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now) {
    if (frame.isIax(iax::AuthRep) && !session.request.empty()) {
        const auto secret = options_.users.find(session.user);
        const bool right = secret != options_.users.end() &&
                           frame.elements().text(ie::Md5Result) == labMd5Hex(session.challenge + secret->second);
        if (right) return startCall(session, now);
        log_("NEW of " + session.user + " refused: wrong digest");
        session.request.clear();
        return reject(session, kNoAuthority, labiax::cause::FacilityNotSubscribed, now);
    }
    if (!labIaxUncounted(frame)) sessions_.acknowledge(session, frame);
    if (frame.isIax(iax::Hangup) || frame.isIax(iax::Reject)) sessions_.closeLater(session, now);
}

void LabSwitchCalls::startCall(LabIaxSession& session, Clock::time_point now) {
    const LabIaxElements request = LabIaxElements::parse(session.request).value_or(LabIaxElements{});
    session.request.clear();
    LabCallInfo info;
    info.user = session.user;
    info.called = textOf(request, ie::CalledNumber);
    info.callerNumber = textOf(request, ie::CallingNumber);
    info.callerName = textOf(request, ie::CallingName);
    const LabCallRoute route = this->route(info.called);
    Call& call = add(std::move(info), session);
    if (route.answer == LabCallAnswer::Reject) {
        reject(session, route.rejectCause, route.rejectCauseCode, now);
        return end(call, route.rejectCause);
    }
    const std::uint32_t preferred = request.u32(ie::Format).value_or(0);
    const std::uint32_t format = chooseLabFormat(preferred, request.u32(ie::Capability).value_or(preferred));
    if (!format) {
        reject(session, kNoCodec, labiax::cause::IncompatibleDestination, now);
        return end(call, kNoCodec);
    }
    call.info.format = format;
    startAudio(call, now);
    sessions_.sendIax(session, iax::Accept, LabIaxElements().addU32(ie::Format, format), now);
    if (route.answer == LabCallAnswer::Busy) {
        sessions_.send(session, labiax::frame::Control, labiax::control::Busy, {}, now);
        return end(call, "Busy");
    }
    sessions_.send(session, labiax::frame::Control, labiax::control::Ringing, {}, now);
    call.info.state = LabCallState::Ringing;
    if (route.answer == LabCallAnswer::Answer)
        call.answerAt = now + Timing::scaled(route.ringTime.value_or(options_.ringTime));
}

void LabSwitchCalls::onCallFrame(Call& call, LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now) {
    if (frame.type == labiax::frame::Iax) return onIaxFrame(call, session, frame, now);
    sessions_.acknowledge(session, frame);
    switch (frame.type) {
        case labiax::frame::Control: return onControlFrame(call, session, frame, now);
        case labiax::frame::Voice:
            if (!call.audio) return log_("call " + std::to_string(call.info.id) + ": voice before a format was agreed, dropped");
            call.audio->receiveFormat(frame.subclass);
            if (!call.audio->receive(frame.payload, call.info.quelched))
                log_("call " + std::to_string(call.info.id) + ": voice frame that does not decode, dropped");
            return;
        case labiax::frame::DtmfEnd:
            if (call.info.dtmf.size() < kMaxDigits && frame.subclass < 0x80)
                call.info.dtmf += static_cast<char>(frame.subclass);
            return;
        case labiax::frame::Text:
            if (call.info.texts.size() < kMaxTexts) call.info.texts.push_back(frame.payload.substr(0, frame.payload.find('\0')));
            return;
        default: return;
    }
}

void LabSwitchCalls::onIaxFrame(Call& call, LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now) {
    const LabIaxElements elements = frame.elements();
    switch (frame.subclass) {
        case iax::Ack: return;
        case iax::Ping: return sessions_.sendIax(session, iax::Pong, {}, now, frame.timestamp);
        case iax::Vnak:
            for (const LabIaxFullFrame& again : session.unacknowledged()) sessions_.transmit(session.peer(), again);
            return;
        case iax::Inval:
            end(call, "invalidated by the phone");
            return sessions_.closeLater(session, now);
        default: break;
    }
    sessions_.acknowledge(session, frame);
    switch (frame.subclass) {
        case iax::LagRq: return sessions_.sendIax(session, iax::LagRp, {}, now, frame.timestamp);
        case iax::Hangup:
        case iax::Reject:
            end(call, causeOf(frame, frame.subclass == iax::Hangup ? "hung up by the phone" : "rejected by the phone"));
            return sessions_.closeLater(session, now);
        case iax::Quelch:
            call.info.quelched = true;
            call.info.musicOnHold = elements.has(ie::MusicOnHold);
            return;
        case iax::Unquelch:
            call.info.quelched = false;
            call.info.musicOnHold = false;
            return;
        case iax::Accept:
            if (!call.info.toPhone || call.info.state != LabCallState::Calling || call.audio) return;
            call.info.format = elements.u32(ie::Format).value_or(options_.originateFormat);
            if (makeLabVoiceCodec(call.info.format)) return startAudio(call, now);
            hangUp(call.info.id, kNoCodec, now);
            return;
        default: return;
    }
}

void LabSwitchCalls::onControlFrame(Call& call, LabIaxSession& session, const LabIaxFullFrame& frame,
                                    Clock::time_point now) {
    switch (frame.subclass) {
        case labiax::control::Ringing:
            if (call.info.toPhone && call.info.state == LabCallState::Calling) call.info.state = LabCallState::Ringing;
            return;
        case labiax::control::Answer:
            if (!call.info.toPhone || (call.info.state != LabCallState::Calling && call.info.state != LabCallState::Ringing))
                return;
            if (!call.audio) startAudio(call, now);
            call.info.state = LabCallState::Answered;
            call.nextBlock = now;
            return;
        case labiax::control::Hangup:
        case labiax::control::Busy:
        case labiax::control::Congestion:
            end(call, frame.subclass == labiax::control::Hangup ? "hung up by the phone"
                      : frame.subclass == labiax::control::Busy ? "busy"
                                                                : "congestion");
            return sessions_.closeLater(session, now);
        default: return;
    }
}

void LabSwitchCalls::onMini(const LabIaxSession& session, const LabIaxMiniFrame& frame) {
    const auto call = calls_.find(session.callId);
    if (call == calls_.end() || !call->second.audio) return log_("mini frame on a call without audio, dropped");
    if (!call->second.audio->receive(frame.payload, call->second.info.quelched))
        log_("call " + std::to_string(call->first) + ": mini frame that does not decode, dropped");
}

void LabSwitchCalls::onSessionLost(int id) {
    const auto call = calls_.find(id);
    if (call != calls_.end()) end(call->second, "no answer to retransmissions");
}

std::optional<int> LabSwitchCalls::originate(const LabUdpAddress& peer, const std::string& user,
                                             const std::string& callerNumber, const std::string& callerName,
                                             Clock::time_point now) {
    LabIaxSession* session = sessions_.open(LabIaxSession::Purpose::Call, peer, 0, now);
    if (!session) return std::nullopt;
    session->user = user;
    LabCallInfo info;
    info.toPhone = true;
    info.user = user;
    info.called = user;
    info.callerNumber = callerNumber;
    info.callerName = callerName;
    Call& call = add(std::move(info), *session);
    LabIaxElements request;
    request.addU16(ie::Version, labiax::kProtocolVersion)
        .add(ie::CalledNumber, user)
        .add(ie::CallingNumber, callerNumber)
        .add(ie::CallingName, callerName)
        .addU32(ie::Format, options_.originateFormat)
        .addU32(ie::Capability, labSupportedFormats());
    sessions_.sendIax(*session, iax::New, request, now);
    return call.info.id;
}

bool LabSwitchCalls::answer(int id, Clock::time_point now) {
    const auto call = calls_.find(id);
    if (call == calls_.end() || call->second.info.toPhone || call->second.info.state != LabCallState::Ringing) return false;
    LabIaxSession* session = sessionOf(call->second);
    if (!session) return false;
    answerCall(call->second, *session, now);
    return true;
}

bool LabSwitchCalls::hangUp(int id, const std::string& cause, Clock::time_point now) {
    const auto call = calls_.find(id);
    if (call == calls_.end() || call->second.info.state == LabCallState::Ended) return false;
    if (LabIaxSession* session = sessionOf(call->second)) {
        sessions_.sendIax(*session, iax::Hangup, LabIaxElements::cause(cause, labiax::cause::NormalClearing), now);
        sessions_.closeLater(*session, now);
    }
    end(call->second, cause);
    return true;
}

void LabSwitchCalls::reject(LabIaxSession& session, const std::string& cause, std::uint8_t causeCode,
                            Clock::time_point now) {
    sessions_.sendIax(session, iax::Reject, LabIaxElements::cause(cause, causeCode), now);
    sessions_.closeLater(session, now);
}

void LabSwitchCalls::answerCall(Call& call, LabIaxSession& session, Clock::time_point now) {
    sessions_.send(session, labiax::frame::Control, labiax::control::Answer, {}, now);
    call.info.state = LabCallState::Answered;
    call.answerAt.reset();
    call.nextBlock = now;
}

void LabSwitchCalls::startAudio(Call& call, Clock::time_point now) {
    call.info.recordFile = recordPath(call.info.id);
    call.audio.emplace(call.info.format, options_.farParty, options_.musicOnHoldHertz, call.info.recordFile);
    if (!call.info.recordFile.empty() && !call.audio->recording()) {
        log_("cannot write " + call.info.recordFile);
        call.info.recordFile.clear();
    }
    call.nextPing = now + Timing::scaled(intervals::kLabSwitchPing);
}

void LabSwitchCalls::sendAudio(Call& call, LabIaxSession& session, Clock::time_point until, Clock::time_point now) {
    while (call.nextBlock && *call.nextBlock <= until) {
        const Clock::time_point block = until - *call.nextBlock > kLongestCatchUp ? until : *call.nextBlock;
        call.nextBlock = block + LabCallAudio::kBlock;
        if (call.info.quelched) {
            call.audio->holdBlock(call.info.musicOnHold);
            continue;
        }
        std::string payload = call.audio->nextFrame();
        const std::uint32_t timestamp = session.timestamp(block);
        if (call.audio->needsFullFrame(timestamp))
            sessions_.send(session, labiax::frame::Voice, call.audio->format(), std::move(payload), now, timestamp);
        else
            sessions_.sendMini(session, static_cast<std::uint16_t>(timestamp & 0xffff), std::move(payload));
    }
}

void LabSwitchCalls::end(Call& call, const std::string& cause) {
    if (call.info.state == LabCallState::Ended) return;
    call.info.state = LabCallState::Ended;
    call.info.endCause = cause;
    call.answerAt.reset();
    call.nextBlock.reset();
    if (call.audio) call.audio->close();
    log_("call " + std::to_string(call.info.id) + " ended: " + cause);
}

void LabSwitchCalls::onTimer(Clock::time_point now) {
    for (auto& [id, call] : calls_) {
        if (call.info.state == LabCallState::Ended) continue;
        LabIaxSession* session = sessionOf(call);
        if (!session) continue;
        if (call.answerAt && *call.answerAt <= now) answerCall(call, *session, now);
        if (call.info.state == LabCallState::Answered && !options_.audioByHand) sendAudio(call, *session, now, now);
        if (call.audio && call.nextPing <= now) {
            sessions_.sendIax(*session, iax::Ping, {}, now);
            call.nextPing = now + Timing::scaled(intervals::kLabSwitchPing);
        }
    }
}

int LabSwitchCalls::sendAudioBlocks(int blocks, Clock::time_point now) {
    int sent = 0;
    for (auto& [id, call] : calls_) {
        LabIaxSession* session = sessionOf(call);
        if (call.info.state != LabCallState::Answered || !session || !call.nextBlock) continue;
        for (int block = 0; block < blocks; ++block) sendAudio(call, *session, *call.nextBlock, now);
        ++sent;
    }
    return sent;
}

void LabSwitchCalls::closeRecordings() {
    for (auto& [id, call] : calls_)
        if (call.audio) call.audio->close();
}

std::optional<LabSwitchCalls::Clock::time_point> LabSwitchCalls::nextDue() const {
    std::optional<Clock::time_point> next;
    const auto consider = [&next](const std::optional<Clock::time_point>& due) {
        if (due && (!next || *due < *next)) next = due;
    };
    for (const auto& [id, call] : calls_) {
        if (call.info.state == LabCallState::Ended) continue;
        consider(call.answerAt);
        if (!options_.audioByHand) consider(call.nextBlock);
        if (call.audio) consider(call.nextPing);
    }
    return next;
}

std::vector<LabCallInfo> LabSwitchCalls::snapshot() const {
    std::vector<LabCallInfo> infos;
    for (const auto& [id, call] : calls_) infos.push_back(call.info);
    return infos;
}

std::optional<std::vector<std::int16_t>> LabSwitchCalls::received(int id) const {
    const auto call = calls_.find(id);
    if (call == calls_.end()) return std::nullopt;
    return call->second.audio ? call->second.audio->received() : std::vector<std::int16_t>{};
}

std::optional<std::vector<std::int16_t>> LabSwitchCalls::heard(int id) const {
    const auto call = calls_.find(id);
    if (call == calls_.end()) return std::nullopt;
    return call->second.audio ? call->second.audio->heard() : std::vector<std::int16_t>{};
}

LabSwitchCalls::Call& LabSwitchCalls::add(LabCallInfo info, LabIaxSession& session) {
    if (calls_.size() >= kMaxKeptCalls) {
        const auto oldestEnded = std::find_if(calls_.begin(), calls_.end(),
                                              [](const auto& entry) { return entry.second.info.state == LabCallState::Ended; });
        if (oldestEnded != calls_.end()) calls_.erase(oldestEnded);
    }
    info.id = nextId_++;
    session.callId = info.id;
    Call& call = calls_[info.id];
    call.info = std::move(info);
    call.localCall = session.localCall();
    log_("call " + std::to_string(call.info.id) + (call.info.toPhone ? " to " : " from ") + call.info.user + ": " +
         call.info.called);
    return call;
}

LabIaxSession* LabSwitchCalls::sessionOf(const Call& call) {
    LabIaxSession* session = sessions_.find(call.localCall);
    return session && session->callId == call.info.id ? session : nullptr;
}

LabCallRoute LabSwitchCalls::route(const std::string& called) const {
    const LabCallRoute* best = nullptr;
    for (const LabCallRoute& route : options_.routes)
        if (called.starts_with(route.prefix) && (!best || route.prefix.size() > best->prefix.size())) best = &route;
    if (best) return *best;
    LabCallRoute fallback;
    fallback.answer = options_.defaultAnswer;
    return fallback;
}

std::string LabSwitchCalls::recordPath(int id) const {
    if (options_.recordDirectory.empty()) return {};
    return options_.recordDirectory + "/call-" + std::to_string(id) + ".wav";
}
