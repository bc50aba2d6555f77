#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "infra/Timing.h"
#include "lab/cti/LabCtiMessages.h"
#include "lab/cti/LabNotReadyPairing.h"

enum class LabLoginAnswer { Accept, Refuse, Ignore };
enum class LabConsultAnswer { Accept, Refuse, Ignore };

// How the lab CTI server plays VelmoraCCS. Durations are production values: the server waits
// Timing::scaled(duration).
struct LabCtiOptions {
    std::uint16_t port = 0;  // 0: an ephemeral port
    bool answerHeartbeat = true;

    // Sent in this order in answer to the hello; a message left empty is not sent.
    std::optional<labcti::SwitchInfo> switchInfo = labcti::SwitchInfo{};
    std::optional<labcti::GroupSettings> group = labcti::GroupSettings{};
    std::optional<std::vector<std::string>> notReadyReasons = std::vector<std::string>{"Break", "Lunch", "Training"};
    std::optional<labcti::RecordServer> recordServer;

    LabLoginAnswer loginAnswer = LabLoginAnswer::Accept;
    labcti::LoginSettings loginSettings;
    std::string refusalResponse = "failure";  // Response of a refusal; empty leaves the child out
    std::string refusalReason;                // Reason of a refusal; empty leaves the child out
    // Agent ID to password. When not empty, a login with another ID or password is refused.
    std::map<std::string, std::string> agents;

    LabNotReadyAck notReadyAck = LabNotReadyAck::AfterPair;
    std::chrono::milliseconds notReadyPairWindow = intervals::kLabNotReadyPairWindow;
    bool acknowledgeLogout = true;

    bool acknowledgePersonalDial = true;
    std::chrono::milliseconds personalDialDelay{0};
    long nextTrackNumber = 9001;  // VelmoraTracknum of the next personal-dial acknowledgement

    std::string screenPopUrl;  // the page a distributed call names when the console gives none

    std::optional<labcti::DateTime> dateTime;  // answer to the date-time request; empty: the local time

    LabConsultAnswer consultAnswer = LabConsultAnswer::Accept;
    std::string consultRefusalReason = "Agent not available";
    std::chrono::milliseconds consultAnswerDelay{0};
};
