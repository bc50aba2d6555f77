#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "infra/CLogger.h"

// Collects the lines of the process-wide log while it lives (they still reach the file).
class LogCapture {
public:
    LogCapture() {
        previous_ = CLogger::getInstance()->setDebugOutput([this](std::string_view line) {
            {
                std::lock_guard guard(lock_);
                lines_.emplace_back(line);
            }
            added_.notify_all();
        });
    }
    ~LogCapture() { CLogger::getInstance()->setDebugOutput(std::move(previous_)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The caller's text of every line (after "[LEVEL] [tid] "), without the line feed.
    std::vector<std::string> messages() const {
        std::lock_guard guard(lock_);
        std::vector<std::string> texts;
        for (const std::string& line : lines_) texts.push_back(messageOf(line));
        return texts;
    }
    // Whole lines, as written to the file.
    std::vector<std::string> lines() const {
        std::lock_guard guard(lock_);
        return lines_;
    }
    bool contains(const std::string& message) const { return count(message) > 0; }
    // A line whose text holds `part`.
    bool mentions(const std::string& part) const {
        const auto all = messages();
        return std::any_of(all.begin(), all.end(), [&](const std::string& text) { return text.find(part) != std::string::npos; });
    }
    int count(const std::string& message) const {
        std::lock_guard guard(lock_);
        return countLocked(message);
    }
    // Sleeps until `message` has been logged `times` times (woken by each new line), or the time-out.
    bool waitFor(const std::string& message, std::chrono::milliseconds timeout, int times = 1) const {
        std::unique_lock guard(lock_);
        return added_.wait_for(guard, timeout, [&] { return countLocked(message) >= times; });
    }
    // The level word of the first line with this text, empty when there is none.
    std::string levelOf(const std::string& message) const {
        std::lock_guard guard(lock_);
        for (const std::string& line : lines_)
            if (messageOf(line) == message) {
                const auto open = line.find('[');
                return line.substr(open + 1, line.find(']') - open - 1);
            }
        return {};
    }
    void clear() {
        std::lock_guard guard(lock_);
        lines_.clear();
    }

    // The "[tid]" field of a line: which thread logged it.
    static std::string threadOf(const std::string& line) {
        const auto start = line.find("] ");
        const auto end = threadEnd(line);
        return end == std::string::npos ? std::string() : line.substr(start + 2, end + 1 - (start + 2));
    }

    static std::string messageOf(const std::string& line) {
        const auto end = threadEnd(line);
        std::string text = end == std::string::npos ? line : line.substr(end + 2);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

private:
    // Where the "[tid]" field ends: lines read "time [LEVEL] [tid] message".
    static std::size_t threadEnd(const std::string& line) {
        const auto levelEnd = line.find("] ");
        return levelEnd == std::string::npos ? levelEnd : line.find("] ", levelEnd + 2);
    }

    int countLocked(const std::string& message) const {
        return static_cast<int>(
            std::count_if(lines_.begin(), lines_.end(), [&](const std::string& line) { return messageOf(line) == message; }));
    }

    mutable std::mutex lock_;
    mutable std::condition_variable added_;
    std::vector<std::string> lines_;
    CLogger::DebugOutput previous_;
};
