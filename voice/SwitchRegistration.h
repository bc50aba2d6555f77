#pragma once

#include <atomic>
#include <string>

#include "infra/Guarded.h"

class VoiceAgent;
class VoiceEngine;

// The Asterisk switch the CTI server names, the codec, and the registration of the agent
// with it; also owns starting and stopping the voice engine's processing loop.
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
    void UnregisterChannels(const std::string& agentId, const std::string& password);
    // A rejected registration stops the loop; the flag stays, so the next restart stops it first.
    void stopProcessingAfterRejection();
    // The engine is going away: stop the loop if it runs.
    void stopOnShutdown();
    // "host:port" of the switch, the form the dial strings use.
    std::string switchAddress() const;

private:
    VoiceEngine& engine_;
    VoiceAgent& agent_;
    Guarded<std::string> host_;
    std::atomic<int> port_{0};
    Guarded<std::string> codec_{"CODEC_ULAW"};
    Guarded<std::string> iaxPassword_;
    std::atomic<bool> processingThreadRunning_{false};
};
