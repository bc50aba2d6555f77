#include "lab/switch/LabSwitchRegistrar.h"

#include <algorithm>
#include <ctime>
#include <random>

#include "lab/switch/LabBytes.h"
#include "lab/switch/LabIaxProtocol.h"
#include "lab/switch/LabMd5.h"

namespace {

constexpr std::uint16_t kDefaultRefresh = 60;
const std::string kRefused = "Registration Refused";

LabIaxElements refusal() { return LabIaxElements::cause(kRefused, labiax::cause::FacilityRejected); }

// A sockaddr_in as Asterisk sends it in the apparent-address element: family in host order
// (little-endian here), port and address in network order, eight zeros.
std::string apparentAddress(const LabUdpAddress& address) {
    std::string bytes = {2, 0};
    labbytes::appendBig16(bytes, address.port);
    labbytes::appendBig32(bytes, address.host);
    return bytes + std::string(8, '\0');
}

std::uint32_t iaxDateTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return static_cast<std::uint32_t>((local.tm_year - 100) << 25 | (local.tm_mon + 1) << 21 | local.tm_mday << 16 |
                                      local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
}

}  // namespace

std::string labIaxChallenge() {
    static std::mt19937 generator{std::random_device{}()};
    return std::to_string(std::uniform_int_distribution<std::uint32_t>(100000000, 999999999)(generator));
}

void LabSwitchRegistrar::onRequest(const LabIaxFullFrame& frame, const LabUdpAddress& peer, Clock::time_point now) {
    const auto user = frame.elements().text(labiax::ie::Username);
    if (!user || user->empty()) return refuse(peer, frame, "no user name");
    if (options_.registrationMode == LabRegistrationMode::Reject) return refuse(peer, frame, "refusing every registration");
    if (!options_.users.count(*user)) return refuse(peer, frame, "unknown user " + *user);
    LabIaxSession* session = sessions_.open(LabIaxSession::Purpose::Registration, peer, frame.sourceCall, now);
    if (!session) return refuse(peer, frame, "too many open exchanges");
    session->receive(frame);
    session->user = *user;
    session->challenge = labIaxChallenge();
    LabIaxElements challenge;
    challenge.addU16(labiax::ie::AuthMethods, labiax::kAuthMd5)
        .add(labiax::ie::Challenge, session->challenge)
        .add(labiax::ie::Username, *user);
    sessions_.sendIax(*session, labiax::iax::RegAuth, challenge, now);
}

void LabSwitchRegistrar::onFrame(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now) {
    if (frame.isIax(labiax::iax::RegReq) || frame.isIax(labiax::iax::RegRel)) return answerDigest(session, frame, now);
    if (!labIaxUncounted(frame)) sessions_.acknowledge(session, frame);
}

void LabSwitchRegistrar::answerDigest(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now) {
    const LabIaxElements elements = frame.elements();
    const auto secret = options_.users.find(session.user);
    const bool right = secret != options_.users.end() && elements.text(labiax::ie::Username) == session.user &&
                       elements.text(labiax::ie::Md5Result) == labMd5Hex(session.challenge + secret->second);
    sessions_.closeLater(session, now);
    if (!right || options_.registrationMode == LabRegistrationMode::Reject) {
        log_("registration of " + session.user + " refused: wrong digest");
        sessions_.sendIax(session, labiax::iax::RegRej, refusal(), now);
        return;
    }
    accept(session, frame, now);
}

void LabSwitchRegistrar::accept(LabIaxSession& session, const LabIaxFullFrame& frame, Clock::time_point now) {
    LabIaxElements answer;
    answer.add(labiax::ie::Username, session.user).addU32(labiax::ie::DateTime, iaxDateTime());
    if (frame.isIax(labiax::iax::RegRel)) {
        registrations_.erase(session.user);
        log_("registration of " + session.user + " released");
        sessions_.sendIax(session, labiax::iax::RegAck, answer, now);
        return;
    }
    const std::uint16_t asked = frame.elements().u16(labiax::ie::Refresh).value_or(kDefaultRefresh);
    const std::uint16_t refresh = std::min(asked, options_.maxRefresh);
    registrations_[session.user] = {session.user, session.peer(), refresh};
    log_("registered " + session.user + " at " + session.peer().toString() + " for " + std::to_string(refresh) + " s");
    answer.addU16(labiax::ie::Refresh, refresh).add(labiax::ie::ApparentAddress, apparentAddress(session.peer()));
    sessions_.sendIax(session, labiax::iax::RegAck, answer, now);
}

void LabSwitchRegistrar::refuse(const LabUdpAddress& peer, const LabIaxFullFrame& frame, const std::string& why) {
    log_("registration from " + peer.toString() + " refused: " + why);
    sessions_.sendStateless(peer, frame, labiax::iax::RegRej, refusal());
}

std::optional<LabRegistration> LabSwitchRegistrar::find(const std::string& user) const {
    const auto found = registrations_.find(user);
    if (found == registrations_.end()) return std::nullopt;
    return found->second;
}

std::vector<LabRegistration> LabSwitchRegistrar::all() const {
    std::vector<LabRegistration> list;
    for (const auto& [user, registration] : registrations_) list.push_back(registration);
    return list;
}
