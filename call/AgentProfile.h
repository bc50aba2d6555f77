#pragma once

#include <atomic>
#include <string>

#include "infra/Guarded.h"

// The agent's login and the settings of the agent's group, as the CTI server handed them
// out at login: what every call of the agent is placed and named with.
struct AgentProfile {
    // The login the agent entered.
    Guarded<std::string> agentId;
    Guarded<std::string> password;

    // The agent group's settings.
    std::atomic<bool> readyAfterLogin{false};
    Guarded<std::string> callPrefix;
    Guarded<std::string> defaultClient;
    Guarded<std::string> defaultCampaign;
};
