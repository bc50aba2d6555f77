#pragma once

#include <atomic>
#include <string>

#include "infra/CLogger.h"
#include "infra/Guarded.h"

// The agent's login and the call in hand, as the CTI server described them: read and
// written by the CTI link, the voice lines, the recording and the local client.
struct CallContext {
    // The login the agent entered.
    Guarded<std::string> agentId;
    Guarded<std::string> password;

    // The current call.
    void setTrackNumber(const std::string& value) {
        logMessage(LogLevel::Debug, "%s - [%s]", "CImplementation::setTrackNumber", value.c_str());
        trackNumber.set(value);
    }
    Guarded<std::string> trackNumber;
    Guarded<std::string> ani;
    Guarded<std::string> callDateTime;      // "year.month.day.hour.min.sec" from the server
    Guarded<std::string> dialledNumber;     // at most 20 characters
    Guarded<std::string> dialDestination;   // at most 100 characters
    std::atomic<bool> remoteDial{false};    // a dial asked by the local client is in progress
    std::atomic<bool> submitPending{false}; // the agent's web page must still submit the result

    // The preview call the server asked for.
    Guarded<std::string> callerIdName;
    Guarded<std::string> callerIdNumber;
    Guarded<std::string> campaignName;
    Guarded<std::string> recordId;
    Guarded<std::string> tableName;

    // The tags a recording's name carries (set from the screen pop).
    std::atomic<bool> recordingTagged{false};
    Guarded<std::string> tagStatus;    // at most 10 characters
    Guarded<std::string> tagCampaign;  // at most 100 characters
    Guarded<std::string> tagClient;    // at most 100 characters

    // The agent group's settings.
    std::atomic<bool> readyAfterLogin{false};
    Guarded<std::string> callPrefix;
    Guarded<std::string> defaultClient;
    Guarded<std::string> defaultCampaign;
};
