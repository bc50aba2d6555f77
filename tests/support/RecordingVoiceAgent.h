#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "AgentVocabulary.h"
#include "core/AgentTables.h"
#include "voice/VoiceAgent.h"

// Records what the voice side asks of the agent.
class RecordingVoiceAgent : public VoiceAgent {
public:
    void QueuePhoneEvent(int event) override { add(std::string("event ") + agent::EventNames[event]); }
    void showTicker(const TickerText& text) override { add("ticker [" + text.text + "]"); }
    void reportLineDown(const std::string& track) override { add("137 " + track); }
    void SendOnHoldToCti() override { add("100"); }
    void SendUnHoldToCti() override { add("101"); }
    void SendInitiateTransferToCti() override { add("411"); }
    void SendCompletedTransferToCti(int type) override { add("412 type " + std::to_string(type)); }
    void SendCancelTransferToCti() override { add("413"); }
    void SendConsultCallRequestToCti(int type) override { add("324 type " + std::to_string(type)); }
    void SendConsultCallCanceledToCti() override { add("325"); }
    void SendConferenceCompletedToCti() override { add("78"); }
    void SendAgentPersonnalDialToCti() override { add("99"); }
    void SendAgentReallyDialingToCti() override { add("131"); }
    void CloseDialWindow() override { add("close dial window"); }
    void reportCallState(const std::string& result) override { add("client " + result); }
    void SetInWrapUp() override { add("wrap-up on"); }
    void setInWrapUp(bool inWrapUp) override { add(inWrapUp ? "wrap-up true" : "wrap-up false"); }

    std::vector<std::string> calls() {
        std::lock_guard guard(lock_);
        return calls_;
    }
    void clear() {
        std::lock_guard guard(lock_);
        calls_.clear();
    }

private:
    void add(const std::string& call) {
        std::lock_guard guard(lock_);
        calls_.push_back(call);
    }
    std::mutex lock_;
    std::vector<std::string> calls_;
};
