#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "infra/Guarded.h"

class SettingsStore;

// The values that survive a restart: the CTI server last chosen with its history, the agent's
// identification and the dialled-number history.
class StoredSettings {
public:
    static constexpr std::uint32_t kDefaultCtiPort = 8765;
    static constexpr std::size_t kDialListLoaded = 22;
    static constexpr std::size_t kDialListKept = 10;

    explicit StoredSettings(SettingsStore& store);

    // Reads everything; the agent identification only replaces `agentId` when one is stored.
    void load(std::string& agentId);
    void saveConnectionSettings(const std::string& agentId) const;
    void saveSwitchList() const;
    void saveDialList() const;

    Guarded<std::string> ctiHost;
    std::atomic<std::uint32_t> ctiPort{kDefaultCtiPort};
    Guarded<std::vector<std::string>> ctiHosts;
    Guarded<std::vector<std::string>> dialList;

private:
    void saveList(const char* countName, const char* entryName, const std::vector<std::string>& list) const;

    SettingsStore& store_;
};
