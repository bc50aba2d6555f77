#pragma once

#include <atomic>
#include <stop_token>
#include <string>

class AgentStatus;
class LineControl;
class SwitchRegistration;
class ThreadGroup;
class VoiceAgent;
class VoiceEngine;
class Call;
struct AgentProfile;

// Places the agent's calls through the switch: manual and remote dials, preview dials, and
// the agent channel that holds line 1 open while the agent is Ready.
class Dialer {
public:
    Dialer(VoiceEngine& engine, LineControl& lines, SwitchRegistration& switchRegistration, Call& call,
           const AgentProfile& profile, AgentStatus& status, VoiceAgent& agent, ThreadGroup& threads);

    void dial(const std::string& number, const std::string& trackNumber);
    void dialPreview(const std::string& number);
    // The local client's dial: from Not Ready on line 1, from Ready on line 2, once the CTI server
    // has given the call its track number. A stop ends the wait for it without dialling. False
    // when the agent's state takes no dial.
    bool remoteDial(const std::string& number, const std::string& trackNumber, const std::stop_token& stop);
    // Starts a Ready attempt on a thread of its own.
    void DoAgentReadyThread();
    int readyAttempts() const { return readyAttempts_; }
    // The phone is closing: a Ready attempt in progress stops waiting.
    void stop() { stopping_ = true; }

private:
    void doAgentReadyThread();
    // agent "@" host ":" port "/" extension
    std::string dialString(const std::string& extension) const;
    bool goingReady() const;
    // Ends a dial the engine could not place as the line going down would end it, and tells
    // the local client it failed.
    void dialFailed(const char* operation, const std::string& destination);

    VoiceEngine& engine_;
    LineControl& lines_;
    SwitchRegistration& switch_;
    Call& call_;
    const AgentProfile& profile_;
    AgentStatus& status_;
    VoiceAgent& agent_;
    ThreadGroup& threads_;
    std::atomic<int> readyAttempts_{0};
    std::atomic<bool> stopping_{false};
};
