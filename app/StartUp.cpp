#include "app/StartUp.h"

#include <unistd.h>

#include <ctime>
#include <iostream>
#include <mutex>

#include "agent/CImplementation.h"
#include "agent/LoginSettings.h"
#include "infra/CAutoUpdater.h"
#include "infra/CLogger.h"
#include "infra/FileVersion.h"
#include "infra/InstanceGuard.h"
#include "infra/SettingsStore.h"

void printStamped(const std::string& line) {
    static std::mutex lock;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::lock_guard guard(lock);
    std::cout << stamp << "  " << line << std::endl;
}

std::string programVersion() { return readFileVersion(runningProgramPath()); }

void printVersion() { std::cout << "Orvane " << programVersion() << std::endl; }

namespace {

// Start-up's self-update step: the program replaces itself and restarts when the update server
// publishes another build; the path comes back with its slashes and is stored that way.
void checkForUpdate() {
    SettingsStore store;
    LoginSettings settings(store);
    settings.loadAutoUpdateSettings();
    const AutoUpdateSettings update = settings.autoUpdate();
    if (!update.enabled) {
        logMessage(LogLevel::Normal, "Auto Update of Orvane disabled, continuing the execution");
        return;
    }
    std::string path = update.path;
    runStartupUpdateCheck(update.host, update.port, path);
    if (path != update.path) settings.storeAutoUpdatePath(path);
}

}  // namespace

bool startUp(InstanceGuard& guard, const std::function<void(const std::string&)>& tell) {
    logMessage(LogLevel::Normal, "Current Orvane Version : %s", programVersion().c_str());
    logMessage(LogLevel::Debug, "Verifying if Orvane is already running");
    switch (guard.acquire()) {
    case InstanceGuard::Result::AlreadyRunning:
        logMessage(LogLevel::Normal, "Orvane already running, exiting");
        tell("Orvane is already running for this user.");
        return false;
    case InstanceGuard::Result::FirstInstance:
        logMessage(LogLevel::Normal, "First instance of Orvane, continuing execution.");
        break;
    case InstanceGuard::Result::Unavailable: break;
    }
    checkForUpdate();
    return true;
}

LoginEntries completedLogin(const LoginEntries& given, CImplementation& core) {
    LoginEntries login = given;
    if (login.agentId.empty()) login.agentId = core.profile().agentId.get();
    if (login.host.empty()) login.host = core.storedSettings().ctiHost.get();
    if (login.port.empty()) login.port = std::to_string(core.storedSettings().ctiPort.load());
    return login;
}

std::optional<std::string> readPasswordLine() {
    std::string line;
    char character = 0;
    for (;;) {
        const ssize_t read = ::read(STDIN_FILENO, &character, 1);
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
        if (character == '\n') break;
        line += character;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}
