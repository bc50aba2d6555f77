#include "voice/engine/iax/Lines.h"

#include <algorithm>
#include <cstring>

#include "infra/CLogger.h"
#include "infra/Timing.h"
#include "voice/engine/iax/IaxAuth.h"
#include "voice/engine/iax/IaxWire.h"
#include "voice/engine/media/MediaEngine.h"

namespace iax {
namespace {
constexpr std::size_t kTagLength = 255;
constexpr int kMaxCallTokenRounds = 2;
constexpr const char* kLocalContext = "default";
constexpr const char* kDtmfDigits = "0123456789*#ABCD";

Clock::time_point nextPingAfter(Clock::time_point now) { return now + Timing::scaled(intervals::kIaxCallPing); }
}  // namespace

std::vector<std::uint8_t> causeElements(const std::string& cause, std::uint8_t code) {
    ElementWriter elements;
    elements.text(kCause, cause).byte(kCauseCode, code);
    return elements.bytes();
}

Lines::Lines(DialogTable& dialogs, DatagramSender& out, Outbox& outbox, const Registrations& registrations,
             CodecPolicy& codecs, LogThrottle& throttle)
    : dialogs_(dialogs), out_(out), outbox_(outbox), registrations_(registrations), codecs_(codecs), throttle_(throttle) {}

void Lines::setCount(int count) {
    calls_.assign(static_cast<std::size_t>(count), Call{});
    tags_.assign(static_cast<std::size_t>(count), std::string());
    selected_ = -1;
}

int Lines::idleLine() const {
    return valid(selected_) && calls_[selected_].bits == 0 ? selected_ : firstIdleLine();
}

int Lines::firstIdleLine() const {
    for (int line = 0; line < count(); ++line)
        if (calls_[line].bits == 0) return line;
    return -1;
}

Dialog* Lines::session(int line) {
    if (!valid(line) || calls_[line].bits == 0) return nullptr;
    Dialog* dialog = dialogs_.find(calls_[line].dialog);
    return dialog && dialog->peerCall() != 0 ? dialog : nullptr;
}

void Lines::postState(int line) {
    const Call& call = calls_[line];
    VoiceEvent event;
    event.type = VoiceEvent::State;
    event.callNo = line;
    event.state = call.bits | (line == selected_ && call.bits ? VoiceEvent::Selected : 0);
    event.remote = call.remote;
    event.remoteName = call.remoteName;
    event.local = call.local;
    event.localContext = kLocalContext;
    outbox_.post(std::move(event));
}

void Lines::setBits(int line, int bits) {
    if (calls_[line].bits == bits) return;
    calls_[line].bits = bits;
    postState(line);
}

int Lines::place(int line, const DialString& dial, const std::string& dialText, const PeerAddress& peer,
                 Clock::time_point now) {
    if (!valid(line) || calls_[line].bits != 0) return -1;
    Dialog* dialog = dialogs_.open(peer, {DialogOwner::Kind::Line, line}, now);
    if (!dialog) return -1;
    Call& call = calls_[line];
    call = Call{};
    call.dialog = dialog->localCall();
    call.remote = dial.extension;
    call.remoteName = dialText;
    call.local = callerName_;
    call.user = dial.user;
    call.secret = dial.secret;
    call.callerNumber = callerNumber_;
    call.nextPing = nextPingAfter(now);
    logMessage(LogLevel::Debug, "Lines::place(): Line %d calls [%s] at %s", line, dial.extension.c_str(),
               peer.text().c_str());
    sendNew(call, *dialog, "", now);
    setBits(line, VoiceEvent::Active | VoiceEvent::Outgoing);
    select(line, now);
    return line;
}

void Lines::sendNew(const Call& call, Dialog& dialog, const std::string& token, Clock::time_point now) {
    ElementWriter elements;
    elements.u16(kVersion, kProtocolVersion);
    if (!call.remote.empty()) elements.text(kCalledNumber, call.remote);
    if (!call.callerNumber.empty()) elements.text(kCallingNumber, call.callerNumber);
    if (!call.local.empty()) elements.text(kCallingName, call.local);
    if (!call.user.empty()) elements.text(kUsername, call.user);
    elements.u32(kFormat, static_cast<std::uint32_t>(codecs_.preferred()));
    elements.u32(kCapability, static_cast<std::uint32_t>(codecs_.allowed()));
    elements.text(kCallTokenElement, token);
    dialog.send(out_, kIax, kNew, elements.bytes(), now);
}

int Lines::select(int line, Clock::time_point now) {
    if (!valid(line)) return -1;
    const int previous = selected_;
    selected_ = line;
    if (valid(previous) && previous != line) postState(previous);
    const Call& call = calls_[line];
    Dialog* dialog = session(line);
    if (dialog && call.incoming && (call.bits & VoiceEvent::Ringing))
        answer(line, *dialog, now);
    else
        postState(line);
    return 0;
}

void Lines::answer(int line, Dialog& dialog, Clock::time_point now) {
    logMessage(LogLevel::Debug, "Lines::answer(): Answering line %d", line);
    dialog.send(out_, kControl, kControlAnswer, {}, now);
    connect(line, dialog, now);
}

void Lines::connect(int line, Dialog& dialog, Clock::time_point now) {
    openChannel(line, dialog, now);
    setBits(line, (calls_[line].bits & ~VoiceEvent::Ringing) | VoiceEvent::Complete);
}

void Lines::openChannel(int line, Dialog& dialog, Clock::time_point now) {
    Call& call = calls_[line];
    call.channelOpen = true;
    call.mediaStart = dialog.elapsedMs(now);
    call.voiceFormatSent = 0;
    const int format = call.format;
    outbox_.media([line, format](MediaEngine& media) {
        if (!media.openChannel(line, format))
            logMessage(LogLevel::Error, "Lines::openChannel(): The media engine cannot open line %d with format %d",
                       line, format);
    });
}

void Lines::hangUp(int line, Clock::time_point now) {
    if (!valid(line) || calls_[line].bits == 0) return;
    logMessage(LogLevel::Debug, "Lines::hangUp(): Dumping line %d", line);
    endLocally(line, "Dumped Call", now);
}

void Lines::endLocally(int line, const std::string& cause, Clock::time_point now) {
    if (Dialog* dialog = dialogs_.find(calls_[line].dialog)) {
        if (dialog->peerCall() != 0) {
            dialog->send(out_, kIax, kHangup, causeElements(cause, kCauseNormalClearing), now);
        } else {
            dialog->restart();  // the NEW need not be sent again
            dialog->hangUpWhenHeard = true;
        }
        dialogs_.end(dialog->localCall(), now);
    }
    clear(line);
}

void Lines::clear(int line) {
    Call& call = calls_[line];
    if (call.channelOpen) outbox_.media([line](MediaEngine& media) { media.closeChannel(line); });
    setBits(line, 0);
    call = Call{};
}

void Lines::sendDtmf(char digit, Clock::time_point now) {
    Dialog* dialog = session(selected_);
    if (!dialog || digit == '\0' || !std::strchr(kDtmfDigits, digit)) return;
    dialog->send(out_, kDtmf, static_cast<std::uint8_t>(digit), {}, now);
}

int Lines::quelch(int line, bool musicOnHold, Clock::time_point now) {
    Dialog* dialog = session(line);
    if (!dialog) return -1;
    ElementWriter elements;
    if (musicOnHold) elements.empty(kMusicOnHold);
    dialog->send(out_, kIax, kQuelch, elements.bytes(), now);
    calls_[line].quelched = true;
    outbox_.media([line](MediaEngine& media) { media.setQuelched(line, true); });
    return 0;
}

int Lines::unquelch(int line, Clock::time_point now) {
    Dialog* dialog = session(line);
    if (!dialog) return -1;
    dialog->send(out_, kIax, kUnquelch, {}, now);
    calls_[line].quelched = false;
    outbox_.media([line](MediaEngine& media) { media.setQuelched(line, false); });
    return 0;
}

void Lines::setCallerId(const std::string& name, const std::string& number) {
    callerName_ = name;
    callerNumber_ = number;
}

int Lines::setTag(int line, const std::string& tag) {
    if (!valid(line)) return -1;
    tags_[line] = tag.substr(0, kTagLength);
    return 0;
}

std::optional<std::string> Lines::tag(int line) const {
    if (!valid(line)) return std::nullopt;
    return tags_[line];
}

void Lines::sendVoice(int line, std::uint32_t mediaTimestamp, std::span<const std::uint8_t> payload,
                      Clock::time_point now) {
    Dialog* dialog = session(line);
    if (!dialog || !calls_[line].channelOpen || calls_[line].quelched || payload.empty()) return;
    Call& call = calls_[line];
    std::uint32_t timestamp = call.mediaStart + mediaTimestamp;
    if (call.voiceFormatSent && timestamp <= call.lastVoiceSent) timestamp = call.lastVoiceSent + 1;
    // A full voice frame opens the stream, and whenever the mini frame's 16 bits wrap or the format changes.
    const bool full = call.voiceFormatSent != call.format || (timestamp >> 16) != (call.lastVoiceSent >> 16);
    call.lastVoiceSent = timestamp;
    if (!full) {
        out_.send(dialog->peer(), encodeMiniFrame(dialog->localCall(), static_cast<std::uint16_t>(timestamp), payload));
        return;
    }
    dialog->send(out_, kVoice, static_cast<std::uint32_t>(call.format), payload, now, timestamp);
    call.voiceFormatSent = call.format;
}

void Lines::offer(Dialog& dialog, const ElementList& elements, Clock::time_point now) {
    const std::string callerNumber = elements.text(kCallingNumber).value_or("");
    const std::string callerName = elements.text(kCallingName).value_or("");
    const int line = firstIdleLine();
    const int peerFormat = static_cast<int>(elements.u32(kFormat).value_or(0));
    const int format = codecs_.negotiate(peerFormat, static_cast<int>(elements.u32(kCapability).value_or(peerFormat)));
    throttle_.log(LogThrottle::Exchange, LogLevel::Debug, now,
                  "Lines::offer(): Call from [%s] [%s] at %s, line %d, format %d", callerNumber.c_str(),
                  callerName.c_str(), dialog.peer().text().c_str(), line, format);
    if (line < 0 || format == 0) {
        dialog.send(out_, kIax, kReject,
                    line < 0 ? causeElements("User busy", kCauseUserBusy)
                             : causeElements("Unable to negotiate codec", kCauseBearerNotAvailable),
                    now);
        return;
    }
    dialog.owner = {DialogOwner::Kind::Line, line};
    Call& call = calls_[line];
    call = Call{};
    call.incoming = true;
    call.dialog = dialog.localCall();
    call.format = format;
    call.remote = callerNumber;
    call.remoteName = callerName;
    call.local = callerName_;
    call.nextPing = nextPingAfter(now);
    ElementWriter accept;
    accept.u32(kFormat, static_cast<std::uint32_t>(format));
    dialog.send(out_, kIax, kAccept, accept.bytes(), now);
    dialog.send(out_, kControl, kControlRinging, {}, now);
    setBits(line, VoiceEvent::Active | VoiceEvent::Ringing);
    outbox_.postResult(line, VoiceEvent::IncomingCall, callerNumber);
    outbox_.postText(line, "Incoming call on line " + std::to_string(line + 1));
}

bool Lines::handle(Dialog& dialog, const FullFrame& frame, const ElementList& elements, Clock::time_point now) {
    const int line = dialog.owner.id;
    if (!valid(line) || calls_[line].dialog != dialog.localCall()) return true;
    const std::uint32_t command = frame.subclass;
    const bool outgoing = calls_[line].bits & VoiceEvent::Outgoing;
    if (frame.type == kIax && command == kAccept && outgoing) {
        onAccept(line, dialog, elements, now);
    } else if (frame.type == kIax && command == kAuthReq && outgoing) {
        onAuthRequest(line, dialog, elements, now);
    } else if ((frame.type == kIax && (command == kHangup || command == kReject)) ||
               (frame.type == kControl && command == kControlHangup)) {
        throttle_.log(LogThrottle::Exchange, LogLevel::Debug, now, "Lines::handle(): Line %d ended by %s: [%s]", line,
                      dialog.peer().text().c_str(), elements.text(kCause).value_or("").c_str());
        dialogs_.end(dialog.localCall(), now);
        clear(line);
    } else if (frame.type == kControl && command == kControlRinging && outgoing) {
        setBits(line, calls_[line].bits | VoiceEvent::Ringing);
    } else if (frame.type == kControl && command == kControlAnswer && outgoing && !calls_[line].channelOpen) {
        connect(line, dialog, now);
    } else if (frame.type == kVoice) {
        onVoice(line, frame, now);
    } else if (frame.type == kText) {
        const auto text = frame.payload;
        const std::size_t length = std::find(text.begin(), text.end(), '\0') - text.begin();
        outbox_.postResult(line, VoiceEvent::TextReceived, std::string(text.begin(), text.begin() + length));
    } else {
        return false;
    }
    return true;
}

void Lines::onAccept(int line, Dialog& dialog, const ElementList& elements, Clock::time_point now) {
    const int format = static_cast<int>(elements.u32(kFormat).value_or(static_cast<std::uint32_t>(codecs_.preferred())));
    if (!codecs_.accepts(format)) {
        throttle_.log(LogThrottle::Exchange, LogLevel::Warning, now,
                      "Lines::onAccept(): %s accepted line %d with format %d, which was not offered",
                      dialog.peer().text().c_str(), line, format);
        endLocally(line, "Unable to negotiate codec", now);
        return;
    }
    calls_[line].format = format;
    setBits(line, calls_[line].bits | VoiceEvent::Ringing);
}

void Lines::onAuthRequest(int line, Dialog& dialog, const ElementList& elements, Clock::time_point now) {
    const Call& call = calls_[line];
    const std::string secret =
        call.secret.empty() ? registrations_.secretFor(call.user, dialog.peer()).value_or("") : call.secret;
    const std::uint16_t methods = elements.u16(kAuthMethods).value_or(0);
    const auto challenge = elements.text(kChallenge);
    ElementWriter reply;
    if ((methods & kAuthMd5) && challenge) {
        reply.text(kMd5Result, md5ChallengeResponse(*challenge, secret));
    } else if (methods & kAuthPlaintext) {
        reply.text(kPassword, secret);
    } else {
        throttle_.log(LogThrottle::Exchange, LogLevel::Warning, now,
                      "Lines::onAuthRequest(): %s asks line %d for authentication methods %#x",
                      dialog.peer().text().c_str(), line, methods);
        endLocally(line, "No authentication method in common", now);
        return;
    }
    dialog.send(out_, kIax, kAuthRep, reply.bytes(), now);
}

void Lines::onVoice(int line, const FullFrame& frame, Clock::time_point now) {
    Call& call = calls_[line];
    const int format = static_cast<int>(frame.subclass);
    if (!call.channelOpen) return;  // early audio before the answer is not played
    if (format != call.format) {
        if (!codecs_.accepts(format)) {
            throttle_.log(LogThrottle::Voice, LogLevel::Warning, now,
                          "Lines::onVoice(): Line %d dropped voice in format %d", line, format);
            return;
        }
        call.format = format;
        call.voiceFormatSent = 0;
        outbox_.media([line, format](MediaEngine& media) {
            media.closeChannel(line);
            media.openChannel(line, format);
        });
    }
    call.lastVoiceHeard = frame.timestamp;
    deliverVoice(line, frame.timestamp, frame.payload);
}

void Lines::receiveMini(const Dialog& dialog, const MiniFrame& frame) {
    const int line = dialog.owner.id;
    if (!valid(line) || calls_[line].dialog != dialog.localCall() || !calls_[line].channelOpen) return;
    if (frame.payload.empty()) return;
    Call& call = calls_[line];
    // The mini frame carries the low 16 bits; the high ones follow the last voice heard.
    std::uint32_t timestamp = (call.lastVoiceHeard & 0xFFFF0000u) | frame.timestamp;
    if (timestamp + 0x8000u < call.lastVoiceHeard) timestamp += 0x10000u;
    if (timestamp > call.lastVoiceHeard) call.lastVoiceHeard = timestamp;
    deliverVoice(line, timestamp, frame.payload);
}

void Lines::deliverVoice(int line, std::uint32_t timestamp, std::span<const std::uint8_t> payload) {
    outbox_.media([line, timestamp, bytes = std::vector<std::uint8_t>(payload.begin(), payload.end())](MediaEngine& media) {
        media.receiveVoice(line, timestamp, bytes.data(), bytes.size());
    });
}

void Lines::callToken(Dialog& dialog, const std::string& token, Clock::time_point now) {
    const int line = dialog.owner.id;
    if (!valid(line) || calls_[line].dialog != dialog.localCall() || !(calls_[line].bits & VoiceEvent::Outgoing))
        return;
    if (++calls_[line].tokenRounds > kMaxCallTokenRounds) {
        throttle_.log(LogThrottle::Exchange, LogLevel::Warning, now,
                      "Lines::callToken(): %s keeps asking line %d for a new call token", dialog.peer().text().c_str(),
                      line);
        dialog.restart();
        dialogs_.end(dialog.localCall(), now);
        clear(line);
        return;
    }
    dialog.restart();
    sendNew(calls_[line], dialog, token, now);
}

void Lines::lost(Dialog& dialog, Clock::time_point now) {
    const int line = dialog.owner.id;
    if (!valid(line) || calls_[line].dialog != dialog.localCall()) return;
    throttle_.log(LogThrottle::Exchange, LogLevel::Warning, now, "Lines::lost(): No answer from %s, line %d ends",
                  dialog.peer().text().c_str(), line);
    clear(line);
}

void Lines::abandonAll(Clock::time_point now) {
    for (int line = 0; line < count(); ++line) {
        if (calls_[line].bits == 0) continue;
        logMessage(LogLevel::Warning, "Lines::abandonAll(): Line %d ends: its network path is gone", line);
        if (calls_[line].dialog) dialogs_.end(calls_[line].dialog, now);
        clear(line);
    }
}

void Lines::ping(Clock::time_point now) {
    for (int line = 0; line < count(); ++line) {
        Dialog* dialog = session(line);
        if (!dialog || now < calls_[line].nextPing) continue;
        dialog->send(out_, kIax, kPing, {}, now);
        calls_[line].nextPing = nextPingAfter(now);
    }
}

std::optional<Clock::time_point> Lines::nextDue() const {
    std::optional<Clock::time_point> due;
    for (int line = 0; line < count(); ++line) {
        const Dialog* dialog = calls_[line].bits ? dialogs_.find(calls_[line].dialog) : nullptr;
        if (dialog && dialog->peerCall() != 0) due = earlier(due, calls_[line].nextPing);
    }
    return due;
}

}  // namespace iax
