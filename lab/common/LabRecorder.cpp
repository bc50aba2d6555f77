#include "lab/common/LabRecorder.h"

void LabRecorder::add(std::string text) {
    {
        std::lock_guard guard(lock_);
        messages_.push_back({std::move(text), std::chrono::steady_clock::now()});
        if (messages_.size() > limit_) messages_.erase(messages_.begin(), messages_.begin() + messages_.size() / 2);
    }
    arrived_.notify_all();
}

void LabRecorder::clear() {
    std::lock_guard guard(lock_);
    messages_.clear();
}

std::vector<LabReceived> LabRecorder::all() const {
    std::lock_guard guard(lock_);
    return messages_;
}

std::vector<std::string> LabRecorder::texts() const {
    std::lock_guard guard(lock_);
    std::vector<std::string> texts;
    texts.reserve(messages_.size());
    for (const LabReceived& message : messages_) texts.push_back(message.text);
    return texts;
}

std::optional<std::string> LabRecorder::waitFor(const Match& match, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(lock_);
    std::optional<std::string> found;
    arrived_.wait_for(guard, timeout, [&] {
        for (const LabReceived& message : messages_)
            if (match(message.text)) {
                found = message.text;
                return true;
            }
        return false;
    });
    return found;
}

std::optional<std::string> LabRecorder::waitFor(const std::string& prefix, std::chrono::milliseconds timeout) const {
    return waitFor([&prefix](const std::string& text) { return text.starts_with(prefix); }, timeout);
}

bool LabRecorder::waitForCount(const Match& match, std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(lock_);
    return arrived_.wait_for(guard, timeout, [&] { return countLocked(match) >= count; });
}

std::size_t LabRecorder::countLocked(const Match& match) const {
    std::size_t count = 0;
    for (const LabReceived& message : messages_)
        if (match(message.text)) ++count;
    return count;
}
