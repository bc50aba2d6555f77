#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "infra/CLogger.h"
#include "infra/Guarded.h"

// The server's date and time of a call, in the six parts a recording's name is made of.
struct CallDateTime {
    std::string year, month, day, hour, minute, second;
    bool operator==(const CallDateTime&) const = default;
};

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
    // The call's date and time from the server: its six parts and their text joined by ".".
    void setCallDateTime(const CallDateTime& parts) {
        callDateTimeParts.set(parts);
        callDateTime.set(parts.year + "." + parts.month + "." + parts.day + "." + parts.hour + "." + parts.minute +
                         "." + parts.second);
    }
    // The text form; its parts are kept when it has six of them, and left empty otherwise.
    void setCallDateTime(const std::string& dotted) {
        std::vector<std::string> parts;
        for (std::size_t at = 0; parts.size() <= 6;) {  // a seventh part is enough to refuse it
            const std::size_t dot = dotted.find('.', at);
            parts.push_back(dotted.substr(at, dot == std::string::npos ? std::string::npos : dot - at));
            if (dot == std::string::npos) break;
            at = dot + 1;
        }
        callDateTimeParts.set(parts.size() == 6 ? CallDateTime{parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]}
                                                : CallDateTime{});
        callDateTime.set(dotted);
    }
    Guarded<std::string> callDateTime;      // "year.month.day.hour.min.sec" from the server
    Guarded<CallDateTime> callDateTimeParts;
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
