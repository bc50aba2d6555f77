#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "infra/Guarded.h"

class VoiceAgent;
class VoiceEngine;

// The Asterisk switch the CTI server names, the codec, and the registration of the agent
// with it; also owns starting and stopping the voice engine's processing loop.
//
// While logging in, a rejected registration stops the loop and fails the login. Once the
// switch has accepted the agent, the engine keeps the registration through a switch that
// stops answering or restarts: the loss and the recovery are logged and shown on the ticker,
// and the loop keeps running, so calls, their keep-alives and the retries go on.
class SwitchRegistration {
public:
    SwitchRegistration(VoiceEngine& engine, VoiceAgent& agent);

    void setAsteriskHost(const std::string& host);
    void setAsteriskPort(int port);
    void setAsteriskCodec(const std::string& codec);
    void setAsteriskIaxPassword(const std::string& password);
    std::string asteriskHost() const { return host_.get(); }
    int asteriskPort() const { return port_; }
    std::string asteriskCodec() const { return codec_.get(); }

    // The IAX2 format bit of a codec name; anything unknown is mu-law.
    static int codecFormat(const std::string& codec);
    // Applies the stored codec and restarts the processing loop.
    void applyVoiceFormat();
    void restartVoiceProcessing();
    // The outcome arrives later as a registration result event.
    void registerWithSwitch(const std::string& agentId, const std::string& password, const std::string& host,
                            int port);
    // Releases the agent's registration at the switch (its host and port); the loop stops once
    // the switch has answered the release, or the engine has given up on it.
    void UnregisterChannels(const std::string& agentId, const std::string& password);

    // The registration results, as the engine reports them. True when the result answers a
    // login (the caller does what a login's answer asks); false when it is the loss or the
    // recovery of a registration the switch had accepted, which is dealt with here.
    bool registrationAccepted();
    bool registrationRejected();
    // The network under the registration changed and the engine asks the switch again. False
    // when there is no registration to keep; true when one is wanted. An accepted or lost
    // one then reports its next acceptance as restored, like a recovery.
    bool registrationWanted() const;
    bool renewAfterNetworkChange();
    // Called on every acceptance, first or restored, on the thread that reported it.
    void setOnRegistered(std::function<void()> onRegistered);
    // A release is over: the loop stops now if it only ran for it.
    void releaseFinished();
    // A rejected registration stops the loop; the flag stays, so the next restart stops it first.
    void stopProcessingAfterRejection();
    // The engine is going away: stop the loop if it runs.
    void stopOnShutdown();
    // "host:port" of the switch, the form the dial strings use.
    std::string switchAddress() const;

private:
    enum class Registration { None, Requested, Accepted, Lost, Renewing };
    void stopAfterRelease();

    VoiceEngine& engine_;
    VoiceAgent& agent_;
    Guarded<std::string> host_;
    std::atomic<int> port_{0};
    Guarded<std::string> codec_{"CODEC_ULAW"};
    Guarded<std::string> iaxPassword_;
    std::atomic<bool> processingThreadRunning_{false};

    mutable std::mutex lock_;  // never held while calling the engine, whose events may come back at once
    Registration registration_ = Registration::None;
    bool stopAfterRelease_ = false;  // the loop runs on only to carry a release to its end
    std::function<void()> onRegistered_;
};
