#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "voice/network/NetlinkMessages.h"
#include "voice/network/NetworkWatcher.h"

class SleepWatcher;
class SwitchRegistration;
class VoiceAgent;
class VoiceEngine;

// Keeps the agent registered with the switch when the network changes under the phone or the
// computer wakes from sleep. It remembers the path to the switch (source address, next hop,
// interface) each time the switch accepts the agent. When a burst of address and route
// changes has settled and that path changed, or the address it left from went away, the
// voice engine opens its socket again, ends the calls whose path is gone and asks the switch
// again at once; the agent sees it on the ticker. After a wake the same happens, and the calls
// are kept when the path is still the one they used.
class NetworkRecovery {
public:
    using RouteLookup = std::function<std::optional<netlink::RoutePath>(const std::string& host)>;

    NetworkRecovery(VoiceEngine& engine, SwitchRegistration& registration, VoiceAgent& agent, RouteLookup lookUp);
    ~NetworkRecovery();
    NetworkRecovery(const NetworkRecovery&) = delete;
    NetworkRecovery& operator=(const NetworkRecovery&) = delete;

    // Follows address and route changes, and sleep where a Qt application runs (on its
    // thread) and a system bus exists. Call from the Qt application's thread, if any.
    void start();
    void stop();

    // What the watchers report; tests call them directly.
    void networkChanged(const NetworkWatcher::Change& change);
    void sleepChanged(bool sleeping);

private:
    struct Baseline {
        std::string switchAddress;
        netlink::RoutePath path;
    };
    // Under the lock.
    void rememberPath();
    void restart(bool keepCalls, const char* tickerText);

    VoiceEngine& engine_;
    SwitchRegistration& registration_;
    VoiceAgent& agent_;
    const RouteLookup lookUp_;

    std::mutex lock_;  // one report at a time, from either watcher
    std::optional<Baseline> baseline_;

    std::atomic<bool> wakePending_{false};  // for the watcher's thread to deal with
    NetworkWatcher watcher_;
    std::unique_ptr<SleepWatcher> sleep_;
};
