#pragma once

#include <string>

class StoredSettings;
struct AgentProfile;

// What the agent enters before each login: identification, password and the CTI server.
struct LoginEntries {
    std::string agentId;
    std::string password;
    std::string host;
    std::string port;  // as typed; leading digits are read

    // No separator of the CTI protocol in the identification or the password, an
    // identification of 3 to 18 characters and a password of at most 18.
    bool valid() const;
    // Stores the entries for the login, puts the host at the front of the history and
    // writes the connection settings. False when the entries are not valid.
    bool confirm(StoredSettings& stored, AgentProfile& profile) const;
};
