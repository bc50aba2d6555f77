#pragma once

#include <string>

// Lets one copy of the program run per user: a lock on a file named Orvane in the user's
// runtime folder, held for the life of the process.
class InstanceGuard {
public:
    enum class Result { FirstInstance, AlreadyRunning, Unavailable };

    // `lockFile` empty: $XDG_RUNTIME_DIR/Orvane.lock, or /tmp/Orvane-<uid>.lock without it.
    explicit InstanceGuard(std::string lockFile = {});
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    Result acquire();

private:
    std::string lockFile_;
    int fd_ = -1;
};
