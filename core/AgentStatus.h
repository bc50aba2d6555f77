#pragma once

#include <atomic>
#include <mutex>
#include <string>

// The agent's state as the rest of the program sees and reports it, written by the state
// machine's actions and read from many threads.
class AgentStatus {
public:
    std::string agentState() const {
        std::lock_guard guard(lock_);
        return agentState_;
    }
    void setAgentState(std::string name) {
        std::lock_guard guard(lock_);
        agentState_ = std::move(name);
    }

    std::string notReadyReason() const {
        std::lock_guard guard(lock_);
        return notReadyReason_;
    }
    void setNotReadyReason(std::string reason) {
        std::lock_guard guard(lock_);
        notReadyReason_ = std::move(reason);
    }

    std::atomic<bool> inCall{false};
    std::atomic<bool> agentReady{false};
    // Permissions handed out by the CTI server with the group settings.
    std::atomic<bool> dialAllowed{false};
    std::atomic<bool> transferAllowed{false};
    std::atomic<bool> conferenceAllowed{false};
    // The distributed call is a consultation call.
    std::atomic<bool> consultCall{false};

private:
    mutable std::mutex lock_;
    std::string agentState_ = "AgentLoggedOut";
    std::string notReadyReason_;
};
