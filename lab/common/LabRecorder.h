#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One message a lab peer received, without its "~", and when it arrived.
struct LabReceived {
    std::string text;
    std::chrono::steady_clock::time_point at;
};

// The ordered record of what a peer received: its reader thread adds, test threads read and wait.
// Past `limit` messages the oldest half is forgotten, so a long run cannot eat memory.
class LabRecorder {
public:
    using Match = std::function<bool(const std::string& text)>;

    explicit LabRecorder(std::size_t limit = SIZE_MAX) : limit_(limit) {}

    void add(std::string text);
    void clear();

    std::vector<LabReceived> all() const;
    std::vector<std::string> texts() const;

    // The first recorded message (since the last clear) that matches, waiting up to `timeout`
    // for it to arrive.
    std::optional<std::string> waitFor(const Match& match, std::chrono::milliseconds timeout) const;
    std::optional<std::string> waitFor(const std::string& prefix, std::chrono::milliseconds timeout) const;
    // True once at least `count` recorded messages match.
    bool waitForCount(const Match& match, std::size_t count, std::chrono::milliseconds timeout) const;

private:
    std::size_t countLocked(const Match& match) const;

    mutable std::mutex lock_;
    mutable std::condition_variable arrived_;
    std::vector<LabReceived> messages_;
    std::size_t limit_;
};
