#pragma once

#include <string>

#include "core/AgentWindow.h"

// What the voice lines ask of the agent core: events for the state machine, the screen,
// and the reports that go to the CTI server and the local client.
class VoiceAgent {
public:
    virtual void QueuePhoneEvent(int event) = 0;
    virtual void showTicker(const TickerText& text) = 0;
    // A line with a track number went down (code 137).
    virtual void reportLineDown(const std::string& lineTrackNumber) = 0;
    virtual void SendOnHoldToCti() = 0;
    virtual void SendUnHoldToCti() = 0;
    // Transfer and conference reports; the type is 1 agent, 2 queue, else a phone number.
    virtual void SendInitiateTransferToCti() = 0;
    virtual void SendCompletedTransferToCti(int transferType) = 0;
    virtual void SendCancelTransferToCti() = 0;
    virtual void SendConsultCallRequestToCti(int transferType) = 0;
    virtual void SendConsultCallCanceledToCti() = 0;
    virtual void SendConferenceCompletedToCti() = 0;
    // The local client's dial: asked of the CTI server first, then reported as dialling.
    virtual void SendAgentPersonnalDialToCti() = 0;
    virtual void SendAgentReallyDialingToCti() = 0;
    virtual void CloseDialWindow() = 0;
    // The outcome of the last dial, for the local client.
    virtual void reportCallState(const std::string& result) = 0;
    // The body of Set-In-Wrap-Up, and the wrap-up flag itself.
    virtual void SetInWrapUp() = 0;
    virtual void setInWrapUp(bool inWrapUp) = 0;

protected:
    ~VoiceAgent() = default;
};
