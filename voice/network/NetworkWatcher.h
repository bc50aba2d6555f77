#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

// Follows the kernel's IPv4 address and route changes (a netlink route socket in the groups
// RTMGRP_IPV4_IFADDR and RTMGRP_IPV4_ROUTE) on a thread of its own. A burst of changes is
// reported once, when it has been quiet for a moment; bad or cut messages are logged and
// skipped. The voice engine's socket is IPv4 only, so IPv6 changes are not followed.
class NetworkWatcher {
public:
    struct Change {
        bool changed = false;                          // false: only a look asked for by requestLook()
        std::vector<std::uint32_t> removedAddresses;  // IPv4, network order
    };
    // Runs on the watcher's thread.
    using Settled = std::function<void(const Change& change)>;

    explicit NetworkWatcher(Settled settled);
    ~NetworkWatcher();
    NetworkWatcher(const NetworkWatcher&) = delete;
    NetworkWatcher& operator=(const NetworkWatcher&) = delete;

    // False (logged) when the routing socket cannot be opened.
    bool start();
    void stop();
    bool running() const { return running_; }
    // Reports an empty change soon (with a burst in progress, that burst), from any thread.
    void requestLook();

private:
    void run();
    void wake();
    // Reads what is waiting into `pending`; false when nothing was.
    bool readMessages(Change& pending);
    void logBadMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));

    const Settled settled_;
    int fd_ = -1;          // the watcher's thread reads it; start() and stop() open and close it
    const int wakeFd_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> lookRequested_{false};
    std::atomic<bool> running_{false};
    int badMessagesLogged_ = 0;  // in the current burst; the watcher's thread only
};
