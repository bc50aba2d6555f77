#pragma once

#include <optional>
#include <string>
#include <vector>

#include "voice/engine/iax/DialogTable.h"
#include "voice/engine/iax/IaxElements.h"
#include "voice/engine/iax/LogThrottle.h"
#include "voice/engine/iax/Outbox.h"

namespace iax {

// The phone's registrations with registrars: REGREQ with the call-token round and the MD5
// challenge, the result events, the refresh before the grant runs out, and REGREL.
//
// A first registration that fails is reported (rejected) and forgotten. One that was accepted
// is kept when a refresh fails: the loss is reported once (rejected), the registrar is asked
// again after 1, 2, 4 ... up to 60 s, and the recovery is reported (accepted). A release ends
// with a released event whatever the registrar does: it accepts, refuses, or never answers.
class Registrations {
public:
    Registrations(DialogTable& dialogs, DatagramSender& out, Outbox& outbox, LogThrottle& throttle);

    // Starts registering; the registration id.
    int add(const std::string& user, const std::string& secret, const PeerAddress& registrar, Clock::time_point now);
    // Releases and forgets every registration of `user` at `registrar`, answering a challenge
    // with `secret` (the registration's own when empty); how many releases went out.
    int release(const std::string& user, const std::string& secret, const PeerAddress& registrar,
                Clock::time_point now);
    std::optional<std::string> secretFor(const std::string& user, const PeerAddress& registrar) const;

    // A frame of one of its dialogs, in order and acknowledged; false when it is not one a
    // registration takes.
    bool handle(Dialog& dialog, const FullFrame& frame, const ElementList& elements, Clock::time_point now);
    void callToken(Dialog& dialog, const std::string& token, Clock::time_point now);
    // The registrar stopped answering or no longer knows the dialog; the caller forgets it.
    void lost(const Dialog& dialog, Clock::time_point now);
    // Starts the refreshes and retries that are due.
    void refresh(Clock::time_point now);
    // The network path changed: every registration and release starts its exchange again now.
    // An accepted registration reports its next acceptance, so the program sees it renewed.
    void renew(Clock::time_point now);
    // When the next refresh or retry is due.
    std::optional<Clock::time_point> nextDue() const;

private:
    struct Registration {
        int id = 0;
        std::string user;
        std::string secret;
        PeerAddress registrar;
        std::uint16_t dialog = 0;  // the exchange in progress, 0 between exchanges
        bool releasing = false;
        bool accepted = false;           // once accepted, a failed refresh is retried, not the end
        bool lost = false;               // a refresh failed and the loss was reported
        bool renewing = false;           // asked again after a network change; its acceptance is reported
        Clock::time_point nextExchange;  // the refresh, or the retry after a loss
        Clock::duration retryWait{};     // before the next retry after a loss
        int tokenRounds = 0;
    };
    // The element that answers a challenge (MD5_RESULT or PASSWORD).
    struct Answer {
        std::uint8_t element;
        std::string value;
    };
    Registration* byDialog(std::uint16_t localCall);
    // Accepted and between exchanges: a refresh or a retry comes at its time.
    static bool waitsForExchange(const Registration& registration);
    bool startExchange(Registration& registration, Clock::time_point now);
    void sendRequest(const Registration& registration, Dialog& dialog, const std::optional<Answer>& answer,
                     const std::string& token, Clock::time_point now);
    void answerChallenge(Registration& registration, Dialog& dialog, const ElementList& elements, Clock::time_point now);
    void accepted(Registration& registration, const ElementList& elements, Clock::time_point now);
    // The exchange of `localCall` is over. A release is reported and forgotten; a registration
    // that failed is forgotten after its first exchange and retried after a later one.
    void finish(std::uint16_t localCall, bool failed, const char* outcome, Clock::time_point now);

    DialogTable& dialogs_;
    DatagramSender& out_;
    Outbox& outbox_;
    LogThrottle& throttle_;
    std::vector<Registration> registrations_;
    int nextId_ = 1;
};

}  // namespace iax
