#pragma once

#include <optional>
#include <string>
#include <vector>

#include "voice/engine/iax/DialogTable.h"
#include "voice/engine/iax/IaxElements.h"
#include "voice/engine/iax/Outbox.h"

namespace iax {

// The phone's registrations with registrars: REGREQ with the call-token round and the MD5
// challenge, the result events, the refresh before the grant runs out, and REGREL.
class Registrations {
public:
    Registrations(DialogTable& dialogs, DatagramSender& out, Outbox& outbox);

    // Starts registering; the registration id.
    int add(const std::string& user, const std::string& secret, const PeerAddress& registrar, Clock::time_point now);
    // Releases and forgets every registration of `user` at `registrar`, answering a challenge
    // with `secret` (the registration's own when empty); how many there were.
    int release(const std::string& user, const std::string& secret, const PeerAddress& registrar,
                Clock::time_point now);
    std::optional<std::string> secretFor(const std::string& user, const PeerAddress& registrar) const;

    // A frame of one of its dialogs, in order and acknowledged.
    void handle(Dialog& dialog, const FullFrame& frame, const ElementList& elements, Clock::time_point now);
    void callToken(Dialog& dialog, const std::string& token, Clock::time_point now);
    // The registrar stopped answering or no longer knows the dialog; the caller forgets it.
    void lost(const Dialog& dialog);
    // Starts the refreshes that are due.
    void refresh(Clock::time_point now);

private:
    struct Registration {
        int id = 0;
        std::string user;
        std::string secret;
        PeerAddress registrar;
        std::uint16_t dialog = 0;  // the exchange in progress, 0 between exchanges
        bool releasing = false;
        bool accepted = false;
        Clock::time_point refreshAt;
        int tokenRounds = 0;
    };
    // The element that answers a challenge (MD5_RESULT or PASSWORD).
    struct Answer {
        std::uint8_t element;
        std::string value;
    };
    Registration* byDialog(std::uint16_t localCall);
    bool startExchange(Registration& registration, Clock::time_point now);
    void sendRequest(const Registration& registration, Dialog& dialog, const std::optional<Answer>& answer,
                     const std::string& token, Clock::time_point now);
    void answerChallenge(Registration& registration, Dialog& dialog, const ElementList& elements, Clock::time_point now);
    void accepted(Registration& registration, const ElementList& elements, Clock::time_point now);
    // Forgets the registration of an exchange; a rejection is reported unless it was a release.
    void finish(std::uint16_t localCall, bool rejected);

    DialogTable& dialogs_;
    DatagramSender& out_;
    Outbox& outbox_;
    std::vector<Registration> registrations_;
    int nextId_ = 1;
};

}  // namespace iax
