#include "voice/engine/iax/Registrations.h"

#include <algorithm>
#include <utility>

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

Registrations::Registrations(DialogTable& dialogs, DatagramSender& out, Outbox& outbox, LogThrottle& throttle)
    : dialogs_(dialogs), out_(out), outbox_(outbox), throttle_(throttle) {}

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
        if (startExchange(registration, now)) ++released;
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

bool Registrations::handle(Dialog& dialog, const FullFrame& frame, const ElementList& elements, Clock::time_point now) {
    Registration* registration = byDialog(dialog.localCall());
    if (!registration) return true;
    const std::uint32_t command = frame.type == kIax ? frame.subclass : 0;
    if (command == kRegAuth) {
        answerChallenge(*registration, dialog, elements, now);
    } else if (command == kRegAck && !registration->releasing) {
        accepted(*registration, elements, now);
    } else if (command == kRegAck || command == kRegRej) {
        const char* answer = command == kRegAck ? "REGACK" : "REGREJ";
        throttle_.log(LogThrottle::Exchange, LogLevel::Debug, now, "Registrations::handle(): %s for [%s] at %s: [%s]",
                      answer, registration->user.c_str(), registration->registrar.text().c_str(),
                      elements.text(kCause).value_or("").c_str());
        dialogs_.end(dialog.localCall(), now);
        finish(dialog.localCall(), command == kRegRej, answer, now);
    } else {
        return false;
    }
    return true;
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
        throttle_.log(LogThrottle::Exchange, LogLevel::Warning, now,
                      "Registrations::answerChallenge(): %s asks for authentication methods %#x",
                      registration.registrar.text().c_str(), methods);
        dialogs_.end(dialog.localCall(), now);
        finish(dialog.localCall(), true, "no authentication method in common", now);
        return;
    }
    sendRequest(registration, dialog, answer, "", now);
}

void Registrations::accepted(Registration& registration, const ElementList& elements, Clock::time_point now) {
    std::uint16_t granted = elements.u16(kRefresh).value_or(kRequestedRefreshSeconds);
    if (granted == 0) granted = kRequestedRefreshSeconds;
    registration.nextExchange = now + Timing::scaled(std::chrono::seconds(granted)) * 9 / 10;
    dialogs_.end(registration.dialog, now);
    registration.dialog = 0;
    throttle_.log(LogThrottle::Exchange, registration.lost ? LogLevel::Warning : LogLevel::Debug, now,
                  "Registrations::accepted(): [%s] registered at %s for %u s%s", registration.user.c_str(),
                  registration.registrar.text().c_str(), granted, registration.lost ? ", again" : "");
    if (registration.accepted && !registration.lost && !std::exchange(registration.renewing, false)) return;
    registration.accepted = true;
    registration.lost = false;
    registration.renewing = false;
    outbox_.postResult(-1, VoiceEvent::RegistrationAccepted, "Registration accepted");
}

void Registrations::finish(std::uint16_t localCall, bool failed, const char* outcome, Clock::time_point now) {
    const auto found = std::find_if(registrations_.begin(), registrations_.end(),
                                    [localCall](const Registration& r) { return r.dialog == localCall; });
    if (found == registrations_.end()) return;
    Registration& registration = *found;
    registration.dialog = 0;
    if (registration.releasing) {
        outbox_.postResult(-1, VoiceEvent::RegistrationReleased, std::string("Registration released: ") + outcome);
        registrations_.erase(found);
        return;
    }
    if (!failed) return;
    registration.renewing = false;
    if (!registration.accepted) {
        outbox_.postResult(-1, VoiceEvent::RegistrationRejected, "Registration rejected");
        registrations_.erase(found);
        return;
    }
    if (!registration.lost) {
        registration.lost = true;
        registration.retryWait = Timing::scaled(intervals::kIaxRegistrationRetryFirst);
        outbox_.postResult(-1, VoiceEvent::RegistrationRejected, "Registration rejected");
    }
    throttle_.log(
        LogThrottle::Exchange, LogLevel::Warning, now,
        "Registrations::finish(): [%s] is not registered at %s (%s), asking again in %lld ms",
        registration.user.c_str(), registration.registrar.text().c_str(), outcome,
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(registration.retryWait).count()));
    registration.nextExchange = now + registration.retryWait;
    registration.retryWait =
        std::min<Clock::duration>(registration.retryWait * 2, Timing::scaled(intervals::kIaxRegistrationRetryLongest));
}

void Registrations::callToken(Dialog& dialog, const std::string& token, Clock::time_point now) {
    Registration* registration = byDialog(dialog.localCall());
    if (!registration) return;
    if (++registration->tokenRounds > kMaxRegistrationTokenRounds) {
        throttle_.log(LogThrottle::Exchange, LogLevel::Warning, now,
                      "Registrations::callToken(): %s keeps asking for a new call token",
                      registration->registrar.text().c_str());
        dialogs_.end(dialog.localCall(), now);
        finish(dialog.localCall(), true, "call token refused", now);
        return;
    }
    dialog.restart();
    sendRequest(*registration, dialog, std::nullopt, token, now);
}

void Registrations::lost(const Dialog& dialog, Clock::time_point now) {
    const Registration* registration = byDialog(dialog.localCall());
    if (!registration) return;
    throttle_.log(LogThrottle::Exchange, LogLevel::Warning, now, "Registrations::lost(): No answer from %s for [%s]",
                  registration->registrar.text().c_str(), registration->user.c_str());
    finish(dialog.localCall(), true, "no answer", now);
}

bool Registrations::waitsForExchange(const Registration& registration) {
    return !registration.releasing && registration.accepted && registration.dialog == 0;
}

void Registrations::refresh(Clock::time_point now) {
    for (Registration& registration : registrations_) {
        if (!waitsForExchange(registration) || now < registration.nextExchange) continue;
        // Should the exchange not even start, the next attempt comes after the shortest retry.
        registration.nextExchange = now + Timing::scaled(intervals::kIaxRegistrationRetryFirst);
        startExchange(registration, now);
    }
}

void Registrations::renew(Clock::time_point now) {
    for (auto registration = registrations_.begin(); registration != registrations_.end();) {
        if (registration->dialog) dialogs_.end(registration->dialog, now);
        registration->renewing = registration->accepted && !registration->releasing;
        // Should the exchange not even start, an accepted one is retried after the shortest wait.
        registration->nextExchange = now + Timing::scaled(intervals::kIaxRegistrationRetryFirst);
        logMessage(LogLevel::Debug, "Registrations::renew(): %s [%s] at %s again, id %d",
                   registration->releasing ? "Releasing" : "Registering", registration->user.c_str(),
                   registration->registrar.text().c_str(), registration->id);
        if (startExchange(*registration, now) || (registration->accepted && !registration->releasing)) {
            ++registration;
            continue;
        }
        // Nothing else would ever finish it: its outcome is reported now.
        if (registration->releasing)
            outbox_.postResult(-1, VoiceEvent::RegistrationReleased, "Registration released: no free call number");
        else
            outbox_.postResult(-1, VoiceEvent::RegistrationRejected, "Registration rejected");
        registration = registrations_.erase(registration);
    }
}

std::optional<Clock::time_point> Registrations::nextDue() const {
    std::optional<Clock::time_point> due;
    for (const Registration& registration : registrations_)
        if (waitsForExchange(registration)) due = earlier(due, registration.nextExchange);
    return due;
}

}  // namespace iax
