#pragma once

#include <atomic>
#include <string>

#include "core/AgentWindow.h"
#include "infra/Semaphore.h"

class AgentWindow;
class LineControl;
class SwitchRegistration;
class VoiceAgent;
class VoiceEngine;
class Call;
struct AgentProfile;

// Transfers, consultation calls and three-way conferences: the order of the line, hold and
// report steps, the dial window and the complete-conference dialog's buttons.
class ConferenceControl : public ConferenceButtons {
public:
    ConferenceControl(VoiceEngine& engine, LineControl& lines, SwitchRegistration& switchRegistration,
                      Call& call, const AgentProfile& profile, VoiceAgent& agent, AgentWindow& window);

    // The main window's Transfer button: initiate, run the dial window, complete or cancel.
    void OnBnClickedButtonTransfer();
    // The main window's Conference button, after it queued Initiate-Conference-Event.
    void InitiateConference();
    // The consult-call request: reports it and rewrites the destination by call type.
    void requestConsultCall(int transferType);
    // The CTI server accepted the consult call.
    void signalConsultResponse();
    bool consultPending() const { return consultPending_; }

    void OnBnClickedLine1() override;
    void OnBnClickedLine2() override;
    void OnBnClickedButtonCompleteConf() override;
    void OnBnClickedCancel() override;

private:
    void dialConsultation(const DialWindowResult& choice, bool wasOnHold, int previousLine);
    void dropConsultation(bool wasOnHold);
    void cancelConference(bool wasOnHold);
    // Swaps to `taken`, quelching `left`; the dialog follows when the taken line is up.
    void swapLines(int left, int taken, bool muteLeft, bool firstButton);

    VoiceEngine& engine_;
    LineControl& lines_;
    SwitchRegistration& switch_;
    Call& call_;
    const AgentProfile& profile_;
    VoiceAgent& agent_;
    AgentWindow& window_;
    std::atomic<bool> consultPending_{false};
    std::atomic<int> dialogConsultationLine_{1};
    Semaphore consultResponse_;
};
