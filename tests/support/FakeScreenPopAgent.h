#pragma once

#include <chrono>
#include <mutex>
#include <vector>

#include "desktop/BrowserHandler.h"

// The agent core as the screen pop sees it: records the events queued (with when), the agent
// mode and the transfers asked for.
class FakeScreenPopAgent : public BrowserHandler::Agent {
public:
    struct Event {
        int event;
        std::chrono::steady_clock::time_point at;
    };

    void QueuePhoneEvent(int event) override {
        std::lock_guard guard(lock_);
        events_.push_back({event, std::chrono::steady_clock::now()});
    }
    void setAgentMode(int mode) override {
        std::lock_guard guard(lock_);
        mode_ = mode;
    }
    void SendTransferToCti() override {
        std::lock_guard guard(lock_);
        ++transfers_;
    }

    std::vector<int> events() const {
        std::lock_guard guard(lock_);
        std::vector<int> found;
        for (const Event& event : events_) found.push_back(event.event);
        return found;
    }
    std::vector<Event> timedEvents() const {
        std::lock_guard guard(lock_);
        return events_;
    }
    int mode() const {
        std::lock_guard guard(lock_);
        return mode_;
    }
    int transfers() const {
        std::lock_guard guard(lock_);
        return transfers_;
    }
    void clear() {
        std::lock_guard guard(lock_);
        events_.clear();
        transfers_ = 0;
        mode_ = 0;
    }

private:
    mutable std::mutex lock_;
    std::vector<Event> events_;
    int mode_ = 0;
    int transfers_ = 0;
};
