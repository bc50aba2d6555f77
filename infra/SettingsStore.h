#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The per-user store of the few values that survive a restart, under Brennic/Orvane
// (an INI file in the user's configuration folder). Strings hold at most 99 characters,
// numbers are 32-bit. Every access opens the store, touches one value and closes it again.
class SettingsStore {
public:
    // Shown to the agent when the store cannot be read or written: (text, caption).
    using ErrorReport = std::function<void(const std::string& text, const std::string& caption)>;

    explicit SettingsStore(ErrorReport report = {});

    // True only when the value was present and read. A missing store or value is silent.
    bool readRegistryValue(const std::string& name, std::string& out) const;
    bool readRegistryValue(const std::string& name, std::uint32_t& out) const;
    void writeRegistryValue(const std::string& name, const std::string& data) const;
    void writeRegistryValue(const std::string& name, std::uint32_t data) const;

    // Keeps the store in `folder` instead of the user's configuration folder (tests).
    static void useFolder(const std::string& folder);

private:
    bool readText(const std::string& name, std::string& out) const;

    ErrorReport report_;
};
