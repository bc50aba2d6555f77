#include "voice/engine/iax/Registrations.h"

#include <algorithm>

#include "infra/CLogger.h"
#include "infra/Timing.h"
#include "voice/engine/iax/IaxAuth.h"
#include "voice/engine/iax/IaxWire.h"

namespace iax {
namespace {
// A registrar that keeps handing out fresh call tokens is not going to accept one.
constexpr int kMaxRegistrationTokenRounds = 2;
constexpr std::uint16_t kRequestedRefreshSeconds =
    static_cast<std::uint16_t>(std::chrono::seconds(intervals::kIaxRegistrationRefresh).count());
}  // namespace

Registrations::Registrations(DialogTable& dialogs, DatagramSender& out, Outbox& outbox)
    : dialogs_(dialogs), out_(out), outbox_(outbox) {}

int Registrations::add(const std::string& user, const std::string& secret, const PeerAddress& registrar,
                       Clock::time_point now) {
    Registration registration;
    registration.id = nextId_++;
    registration.user = user;
    registration.secret = secret;
    registration.registrar = registrar;
    logMessage(LogLevel::Debug, "Registrations::add(): Registering [%s] with %s, id %d", user.c_str(),
               registrar.text().c_str(), registration.id);
    if (!startExchange(registration, now)) return -1;
    registrations_.push_back(std::move(registration));
    return registrations_.back().id;
}

int Registrations::release(const std::string& user, const std::string& secret, const PeerAddress& registrar,
                           Clock::time_point now) {
    int released = 0;
    for (Registration& registration : registrations_) {
        if (registration.releasing || registration.user != user || !(registration.registrar == registrar)) continue;
        logMessage(LogLevel::Debug, "Registrations::release(): Releasing [%s] at %s, id %d", user.c_str(),
                   registrar.text().c_str(), registration.id);
        if (registration.dialog) dialogs_.end(registration.dialog, now);
        registration.releasing = true;
        if (!secret.empty()) registration.secret = secret;
        startExchange(registration, now);
        ++released;
    }
    std::erase_if(registrations_, [](const Registration& r) { return r.releasing && r.dialog == 0; });
    return released;
}

std::optional<std::string> Registrations::secretFor(const std::string& user, const PeerAddress& registrar) const {
    for (const Registration& registration : registrations_)
        if (!registration.releasing && registration.user == user && registration.registrar == registrar)
            return registration.secret;
    return std::nullopt;
}

Registrations::Registration* Registrations::byDialog(std::uint16_t localCall) {
    const auto found = std::find_if(registrations_.begin(), registrations_.end(),
                                    [localCall](const Registration& r) { return r.dialog == localCall; });
    return found == registrations_.end() ? nullptr : &*found;
}

bool Registrations::startExchange(Registration& registration, Clock::time_point now) {
    Dialog* dialog = dialogs_.open(registration.registrar, {DialogOwner::Kind::Registration, registration.id}, now);
    registration.dialog = dialog ? dialog->localCall() : 0;
    registration.tokenRounds = 0;
    if (!dialog) {
        logMessage(LogLevel::Error, "Registrations::startExchange(): No free call number for [%s]",
                   registration.user.c_str());
        return false;
    }
    sendRequest(registration, *dialog, std::nullopt, "", now);
    return true;
}

void Registrations::sendRequest(const Registration& registration, Dialog& dialog, const std::optional<Answer>& answer,
                                const std::string& token, Clock::time_point now) {
    ElementWriter elements;
    elements.text(kUsername, registration.user);
    if (answer) elements.text(answer->element, answer->value);
    if (!registration.releasing) elements.u16(kRefresh, kRequestedRefreshSeconds);
    // A request that opens an exchange carries a call token, empty until the registrar hands one out.
    if (dialog.peerCall() == 0) elements.text(kCallTokenElement, token);
    dialog.send(out_, kIax, registration.releasing ? kRegRel : kRegReq, elements.bytes(), now);
}

void Registrations::handle(Dialog& dialog, const FullFrame& frame, const ElementList& elements, Clock::time_point now) {
    Registration* registration = byDialog(dialog.localCall());
    if (!registration) return;
    const std::uint32_t command = frame.type == kIax ? frame.subclass : 0;
    if (command == kRegAuth) {
        answerChallenge(*registration, dialog, elements, now);
    } else if (command == kRegAck && !registration->releasing) {
        accepted(*registration, elements, now);
    } else if (command == kRegAck || command == kRegRej) {
        logMessage(LogLevel::Debug, "Registrations::handle(): %s for [%s] at %s: [%s]",
                   command == kRegAck ? "REGACK" : "REGREJ", registration->user.c_str(),
                   registration->registrar.text().c_str(), elements.text(kCause).value_or("").c_str());
        dialogs_.end(dialog.localCall(), now);
        finish(dialog.localCall(), command == kRegRej);
    } else {
        logMessage(LogLevel::Debug, "Registrations::handle(): Unhandled frame type %d subclass %u from %s",
                   frame.type, frame.subclass, dialog.peer().text().c_str());
        outbox_.postResult(-1, VoiceEvent::UnhandledNoCall, "");
    }
}

void Registrations::answerChallenge(Registration& registration, Dialog& dialog, const ElementList& elements,
                                    Clock::time_point now) {
    const std::uint16_t methods = elements.u16(kAuthMethods).value_or(0);
    const auto challenge = elements.text(kChallenge);
    std::optional<Answer> answer;
    if ((methods & kAuthMd5) && challenge)
        answer = Answer{kMd5Result, md5ChallengeResponse(*challenge, registration.secret)};
    else if (methods & kAuthPlaintext)
        answer = Answer{kPassword, registration.secret};
    if (!answer) {
        logMessage(LogLevel::Warning, "Registrations::answerChallenge(): %s asks for authentication methods %#x",
                   registration.registrar.text().c_str(), methods);
        dialogs_.end(dialog.localCall(), now);
        finish(dialog.localCall(), true);
        return;
    }
    sendRequest(registration, dialog, answer, "", now);
}

void Registrations::accepted(Registration& registration, const ElementList& elements, Clock::time_point now) {
    std::uint16_t granted = elements.u16(kRefresh).value_or(kRequestedRefreshSeconds);
    if (granted == 0) granted = kRequestedRefreshSeconds;
    registration.refreshAt = now + Timing::scaled(std::chrono::seconds(granted)) * 9 / 10;
    dialogs_.end(registration.dialog, now);
    registration.dialog = 0;
    logMessage(LogLevel::Debug, "Registrations::accepted(): [%s] registered at %s for %u s", registration.user.c_str(),
               registration.registrar.text().c_str(), granted);
    if (registration.accepted) return;
    registration.accepted = true;
    outbox_.postResult(-1, VoiceEvent::RegistrationAccepted, "Registration accepted");
}

void Registrations::finish(std::uint16_t localCall, bool rejected) {
    const auto found = std::find_if(registrations_.begin(), registrations_.end(),
                                    [localCall](const Registration& r) { return r.dialog == localCall; });
    if (found == registrations_.end()) return;
    if (rejected && !found->releasing)
        outbox_.postResult(-1, VoiceEvent::RegistrationRejected, "Registration rejected");
    registrations_.erase(found);
}

void Registrations::callToken(Dialog& dialog, const std::string& token, Clock::time_point now) {
    Registration* registration = byDialog(dialog.localCall());
    if (!registration) return;
    if (++registration->tokenRounds > kMaxRegistrationTokenRounds) {
        logMessage(LogLevel::Warning, "Registrations::callToken(): %s keeps asking for a new call token",
                   registration->registrar.text().c_str());
        dialogs_.end(dialog.localCall(), now);
        finish(dialog.localCall(), true);
        return;
    }
    dialog.restart();
    sendRequest(*registration, dialog, std::nullopt, token, now);
}

void Registrations::lost(const Dialog& dialog) {
    const Registration* registration = byDialog(dialog.localCall());
    if (!registration) return;
    logMessage(LogLevel::Warning, "Registrations::lost(): No answer from %s for [%s]",
               registration->registrar.text().c_str(), registration->user.c_str());
    finish(dialog.localCall(), true);
}

void Registrations::refresh(Clock::time_point now) {
    for (Registration& registration : registrations_)
        if (!registration.releasing && registration.accepted && registration.dialog == 0 && now >= registration.refreshAt)
            startExchange(registration, now);
}

}  // namespace iax
