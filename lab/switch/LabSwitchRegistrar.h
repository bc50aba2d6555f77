#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lab/common/LabLog.h"
#include "lab/switch/LabIaxSessions.h"
#include "lab/switch/LabSwitchOptions.h"

// One user's registration: where the phone said it can be reached.
struct LabRegistration {
    std::string user;
    LabUdpAddress address;
    std::uint16_t refresh = 0;  // seconds granted
};

// The registrar: REGREQ → REGAUTH (MD5 challenge) → REGREQ with the digest → REGACK or REGREJ,
// and REGREL likewise, which removes the registration. Call tokens are checked before a
// request reaches it.
class LabSwitchRegistrar {
public:
    using Clock = LabIaxSession::Clock;

    LabSwitchRegistrar(LabIaxSessions& sessions, const LabSwitchOptions& options, const LabLog& log)
        : sessions_(sessions), options_(options), log_(log) {}

    // A REGREQ or REGREL that opens an exchange (no call number of ours yet).
    void onRequest(const LabIaxFullFrame& frame, const LabUdpAddress& peer, Clock::time_point now);
    // A frame on a registration session.
    void onFrame(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now);

    std::optional<LabRegistration> find(const std::string& user) const;
    std::vector<LabRegistration> all() const;

private:
    void answerDigest(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now);
    void accept(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now);
    void refuse(const LabUdpAddress& peer, const LabIaxFullFrame& frame, const std::string& why);

    LabIaxSessions& sessions_;
    const LabSwitchOptions& options_;
    const LabLog& log_;
    std::map<std::string, LabRegistration> registrations_;
};

// A fresh decimal challenge for MD5 authentication.
std::string labIaxChallenge();
