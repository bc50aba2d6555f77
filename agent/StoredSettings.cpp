#include "agent/StoredSettings.h"

#include "infra/CLogger.h"
#include "infra/SettingsStore.h"

namespace {

std::string entryName(const char* base, std::size_t index) { return std::string(base) + " " + std::to_string(index); }

}  // namespace

StoredSettings::StoredSettings(SettingsStore& store) : store_(store) {}

void StoredSettings::load(std::string& agentId) {
    std::uint32_t count = 0;
    store_.readRegistryValue("Switch List Count", count);
    logMessage(LogLevel::Debug, "CImplementation::initialize(): Switch list count:[%d]", static_cast<int>(count));
    std::vector<std::string> hosts;
    for (std::uint32_t i = 1; i <= count; ++i) {
        std::string host;
        store_.readRegistryValue(entryName("Switch String", i), host);
        logMessage(LogLevel::Debug, "CImplementation::initialize(): CTI host:[%s]", host.c_str());
        hosts.push_back(host);
    }
    ctiHosts.set(hosts);

    std::uint32_t port = kDefaultCtiPort;
    store_.readRegistryValue("Switch port", port);
    ctiPort = port;
    logMessage(LogLevel::Debug, "CImplementation::initialize(): Switch port:[%d]", static_cast<int>(port));

    std::string storedAgent;
    if (store_.readRegistryValue("Agent identification", storedAgent)) agentId = storedAgent;
    logMessage(LogLevel::Debug, "CImplementation::initialize(): Agent:[%s]", agentId.c_str());

    std::string host;
    if (store_.readRegistryValue("Switch host", host)) ctiHost.set(host);

    count = 0;
    store_.readRegistryValue("Dial List Count", count);
    logMessage(LogLevel::Debug, "CImplementation::initialize(): Dialed list count:[%d]", static_cast<int>(count));
    std::vector<std::string> numbers;
    for (std::uint32_t i = 1; i <= count && numbers.size() < kDialListLoaded; ++i) {
        std::string number;
        store_.readRegistryValue(entryName("Dial String", i), number);
        logMessage(LogLevel::Debug, "CImplementation::initialize(): Dialed number:[%s]", number.c_str());
        numbers.push_back(number);
    }
    dialList.set(numbers);
}

void StoredSettings::saveConnectionSettings(const std::string& agentId) const {
    store_.writeRegistryValue("Switch host", ctiHost.get());
    store_.writeRegistryValue("Switch port", ctiPort.load());
    store_.writeRegistryValue("Agent identification", agentId);
    store_.writeRegistryValue("Agent password", std::string());
}

void StoredSettings::saveList(const char* countName, const char* entry, const std::vector<std::string>& list) const {
    store_.writeRegistryValue(countName, static_cast<std::uint32_t>(list.size()));
    for (std::size_t i = 0; i < list.size(); ++i) store_.writeRegistryValue(entryName(entry, i + 1), list[i]);
}

void StoredSettings::saveSwitchList() const { saveList("Switch List Count", "Switch String", ctiHosts.get()); }

void StoredSettings::saveDialList() const { saveList("Dial List Count", "Dial String", dialList.get()); }
