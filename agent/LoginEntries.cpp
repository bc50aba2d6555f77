#include "agent/LoginEntries.h"

#include <algorithm>
#include <vector>

#include "call/AgentProfile.h"
#include "agent/StoredSettings.h"
#include "infra/LeadingInt.h"
#include "infra/Trimmed.h"

namespace {

constexpr std::size_t kLongestEntry = 19;
constexpr std::size_t kShortestAgentId = 3;

bool hasSeparator(const std::string& text) { return text.find_first_of("|^~][ ") != std::string::npos; }

}  // namespace

bool LoginEntries::valid() const {
    const std::string id = agentId.substr(0, kLongestEntry);
    const std::string secret = password.substr(0, kLongestEntry);
    return !hasSeparator(id) && !hasSeparator(secret) && secret.size() < kLongestEntry &&
           id.size() >= kShortestAgentId && id.size() < kLongestEntry;
}

bool LoginEntries::confirm(StoredSettings& stored, AgentProfile& profile) const {
    if (!valid()) return false;
    stored.ctiHost.set(host);
    profile.agentId.set(agentId);
    profile.password.set(password);
    const int number = leadingInt(port);
    stored.ctiPort = static_cast<std::uint32_t>(number < 0 ? 0 : number);
    const std::string entry = trimmed(host);
    if (!entry.empty()) {
        stored.ctiHosts.update([&](std::vector<std::string>& hosts) {
            hosts.erase(std::remove(hosts.begin(), hosts.end(), entry), hosts.end());
            hosts.insert(hosts.begin(), entry);
        });
    }
    stored.saveConnectionSettings(agentId);
    stored.saveSwitchList();
    return true;
}
