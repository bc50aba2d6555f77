#include "voice/ConferenceControl.h"

#include "AgentVocabulary.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "infra/CLogger.h"
#include "infra/Timing.h"
#include "voice/LineControl.h"
#include "voice/SwitchRegistration.h"
#include "voice/VoiceAgent.h"
#include "voice/engine/VoiceEngine.h"

namespace {

constexpr int kPhoneNumber = 0;

}  // namespace

ConferenceControl::ConferenceControl(VoiceEngine& engine, LineControl& lines, SwitchRegistration& switchRegistration,
                                     Call& call, const AgentProfile& profile, VoiceAgent& agent,
                                     AgentWindow& window)
    : engine_(engine),
      lines_(lines),
      switch_(switchRegistration),
      call_(call),
      profile_(profile),
      agent_(agent),
      window_(window) {}

void ConferenceControl::OnBnClickedButtonTransfer() {
    logMessage(LogLevel::Debug, "OnBnClickedButtonTransfer");
    lines_.PutCallHold();
    lines_.selectThirdLine();
    agent_.SendInitiateTransferToCti();
    const DialWindowResult choice = window_.runDialWindow("Transfer");
    if (choice.confirmed) {
        call_.setDialDestination(choice.number);
        agent_.SendCompletedTransferToCti(choice.transferType);
        return;
    }
    agent_.SendCancelTransferToCti();
    // The customer line is selected before the hold is restored, on this thread: on a thread
    // of its own the selection could come after the hold and leave the customer muted.
    const bool threeLines = lines_.threeLineMode();
    logMessage(LogLevel::Debug, threeLines ? "CImplementation::SelectSecondLine()" : "CImplementation::SelectFirstLine()");
    lines_.selectIaxLine(threeLines ? 1 : 0);
    const bool muted = lines_.muted();
    const bool holdButton = lines_.holdButtonOn();
    if (muted && !holdButton) {
        logMessage(LogLevel::Debug, "InitiateTransfer():Button hold off and client on hold, keeping hold status");
        lines_.RemoveHold();
    } else if (muted) {
        logMessage(LogLevel::Debug, "InitiateTransfer():Button hold on and client on hold, keeping hold status");
    } else if (holdButton) {
        logMessage(LogLevel::Debug,
                   "InitiateTransfer():Button hold on and client not on hold, keeping not on hold status");
    } else {
        logMessage(LogLevel::Debug,
                   "InitiateTransfer():Button hold off and client not on hold, keeping not on hold status");
    }
}

void ConferenceControl::requestConsultCall(int transferType) {
    // An answer that came after an earlier request had stopped waiting must not answer this one.
    while (consultResponse_.tryAcquireFor(std::chrono::milliseconds(0))) continue;
    agent_.SendConsultCallRequestToCti(transferType);
    const std::string type = lines_.callType();
    if (type == "DISTRIBUTE")
        call_.prefixDialDestination("AGTDIST");
    else if (type == "OUTBOUND")
        call_.prefixDialDestination("AGTOUT");
    else if (type == "READYOUTBOUND")
        call_.prefixDialDestination("AGTRDYOUT");
    consultPending_ = true;
}

void ConferenceControl::signalConsultResponse() {
    if (consultResponse_.count() == 0) consultResponse_.release();
}

void ConferenceControl::InitiateConference() {
    logMessage(LogLevel::Debug, "InitiateConference()");
    const bool wasOnHold = lines_.muted();
    logMessage(LogLevel::Debug, "Call was on hold: %d", wasOnHold ? 1 : 0);
    logMessage(LogLevel::Debug, "InitiateConference(): Put call on hold");
    lines_.PutCallHold();
    const bool secondUp = lines_.lineIsUp(1);
    const int consultation = secondUp ? 2 : 1;
    const int previous = secondUp ? 1 : 0;
    dialogConsultationLine_ = consultation;
    logMessage(LogLevel::Debug, "InitiateConference(): Selecting line:[%d]", consultation);
    lines_.selectIaxLine(consultation);

    const DialWindowResult choice = window_.runDialWindow("Initiate conference");
    if (choice.confirmed)
        dialConsultation(choice, wasOnHold, previous);
    else
        cancelConference(wasOnHold);
}

void ConferenceControl::dialConsultation(const DialWindowResult& choice, bool wasOnHold, int previousLine) {
    logMessage(LogLevel::Debug, "InitiateConference(): Initiating conference");
    const std::string destination = call_.setDialDestination(choice.number);
    std::string dialString = profile_.agentId.get() + "@" + switch_.switchAddress() + "/";
    if (choice.transferType != kPhoneNumber) {
        logMessage(LogLevel::Debug, "Calling agent[%s]", destination.c_str());
        requestConsultCall(choice.transferType);
        dialString += "AGTCALL" + profile_.agentId.get();
        if (!consultResponse_.tryAcquireFor(Timing::scaled(intervals::kConsultResponseWait))) {
            lines_.selectIaxLine(previousLine);
            lines_.RemoveHold();
        }
    } else {
        logMessage(LogLevel::Debug, "Calling phone number[%s]", destination.c_str());
        dialString += profile_.callPrefix.get() + destination;
        agent_.SendAgentReallyDialingToCti();
    }
    agent_.QueuePhoneEvent(agent::InProgressEvent);
    logMessage(LogLevel::Normal, "InitiateConference(): Dial:[%s]", dialString.c_str());
    if (engine_.iaxc_call(dialString) < 0) {
        lines_.reportDialFailure("InitiateConference()", dialString);
        cancelConference(wasOnHold);  // no consultation to complete: back to the customer
        return;
    }
    logMessage(LogLevel::Debug, "InitiateConference(): iaxc_call() made");

    if (window_.runCompleteConferenceDialog(*this, dialogConsultationLine_)) {
        agent_.SendConferenceCompletedToCti();
        consultPending_ = false;
    } else {
        dropConsultation(wasOnHold);
    }
}

void ConferenceControl::dropConsultation(bool wasOnHold) {
    const bool threeLines = lines_.threeLineMode();
    if ((threeLines && lines_.lineIsUp(1)) || (!threeLines && lines_.lineIsUp(0))) {
        logMessage(LogLevel::Debug, "InitiateConference(): Must drop conference");
        const int dropped = threeLines ? 2 : 1;
        logMessage(LogLevel::Debug, "InitiateConference(): Selecting line:[%d] and dropping it", dropped);
        lines_.selectAndDrop(dropped);
        const int continued = threeLines ? 1 : 0;
        logMessage(LogLevel::Debug, "InitiateConference(): Selecting line:[%d] to continue the call", continued);
        lines_.selectIaxLine(continued);
        if (!wasOnHold) lines_.RemoveHold();
        agent_.SendConsultCallCanceledToCti();
    } else {
        lines_.selectIaxLine(threeLines ? 2 : 1);
    }
    const bool lineStillUp = threeLines ? (lines_.lineIsUp(1) || lines_.lineIsUp(2))
                                        : (lines_.lineIsUp(0) || lines_.lineIsUp(1));
    agent_.QueuePhoneEvent(lineStillUp ? agent::ConferenceCanceledEvent : agent::LineStatusDownEvent);
    consultPending_ = false;
}

void ConferenceControl::cancelConference(bool wasOnHold) {
    logMessage(LogLevel::Debug, "InitiateConference(): Cancelling conference");
    const int returnLine =
        lines_.threeLineMode() ? (lines_.lineIsUp(2) ? 2 : 1) : (lines_.lineIsUp(1) ? 1 : 0);
    if (!wasOnHold) {
        for (int callNo = 0; callNo < LineControl::kLines; ++callNo) {
            if (!lines_.lineIsUp(callNo)) continue;
            lines_.selectIaxLine(callNo);
            lines_.RemoveHold();
        }
    }
    logMessage(LogLevel::Debug, "InitiateConference(): Selecting line:[%d]", returnLine);
    lines_.selectIaxLine(returnLine);
    agent_.QueuePhoneEvent(agent::ConferenceCanceledEvent);
    if (returnLine == 1) agent_.QueuePhoneEvent(agent::SwitchToManualEvent);
    agent_.SendConsultCallCanceledToCti();
    consultPending_ = false;
}

void ConferenceControl::swapLines(int left, int taken, bool muteLeft, bool firstButton) {
    lines_.selectIaxLine(left);
    if (muteLeft)
        lines_.MuteClient();
    else
        lines_.PutCallHold();
    lines_.selectIaxLine(taken);
    lines_.RemoveHold();
    if (lines_.lineIsUp(taken)) {
        const Control shown = firstButton ? Control::ConferenceLine1Selected : Control::ConferenceLine2Selected;
        const Control hidden = firstButton ? Control::ConferenceLine2Selected : Control::ConferenceLine1Selected;
        if (window_.controlExists(shown)) window_.showControl(shown, true);
        if (window_.controlExists(hidden)) window_.showControl(hidden, false);
    }
    const Control otherButton = firstButton ? Control::ConferenceLine2 : Control::ConferenceLine1;
    if (window_.controlExists(otherButton)) window_.enableControl(otherButton, lines_.lineIsUp(left));
}

void ConferenceControl::OnBnClickedLine1() {
    logMessage(LogLevel::Debug, "CCompleteConferenceDlg : OnBnClickedLine1()");
    const bool threeLines = lines_.threeLineMode();
    swapLines(threeLines ? 2 : 1, threeLines ? 1 : 0, consultPending_, true);
}

void ConferenceControl::OnBnClickedLine2() {
    logMessage(LogLevel::Debug, "CCompleteConferenceDlg : OnBnClickedLine2()");
    const bool threeLines = lines_.threeLineMode();
    swapLines(threeLines ? 1 : 0, threeLines ? 2 : 1, false, false);
}

void ConferenceControl::OnBnClickedButtonCompleteConf() {
    logMessage(LogLevel::Debug, "CCompleteConferenceDlg :OnBnClickedButtonCompleteConf");
    for (int callNo = 0; callNo < LineControl::kLines; ++callNo) {
        if (!lines_.lineIsUp(callNo)) continue;
        lines_.selectIaxLine(callNo);
        lines_.RemoveHold();
    }
    for (Control button : {Control::ConferenceLine1, Control::ConferenceLine2})
        if (window_.controlExists(button)) window_.enableControl(button, false);
    logMessage(LogLevel::Debug, "CCompleteConferenceDlg : OnBnClickedButtonCompleteConf : selecting line[%d]",
               dialogConsultationLine_.load());
    int finalLine = lines_.threeLineMode() ? 2 : 1;
    if (consultPending_) {
        const std::string type = lines_.callType();
        if (type == "DISTRIBUTE") {
            finalLine = 0;
            logMessage(LogLevel::Debug,
                       "CCompleteConferenceDlg : OnBnClickedButtonCompleteConf : Agent Consultation in DISTRIBUTE "
                       "selecting line [%d]",
                       finalLine);
        } else if (type == "READYOUTBOUND") {
            finalLine = 1;
            logMessage(LogLevel::Debug,
                       "CCompleteConferenceDlg : OnBnClickedButtonCompleteConf : Agent Consultation  READY OUTBOUND "
                       "selecting line [%d]",
                       finalLine);
        } else if (type == "OUTBOUND") {
            finalLine = 0;
            logMessage(LogLevel::Debug,
                       "CCompleteConferenceDlg : OnBnClickedButtonCompleteConf : Agent Consultation  OUTBOUND "
                       "selecting line [%d]",
                       finalLine);
        }
    }
    lines_.selectIaxLine(finalLine);
    logMessage(LogLevel::Debug, "Successfully selected line [%d]", finalLine);
    logMessage(LogLevel::Debug, "CCompleteConferenceDlg : OnBnClickedButtonCompleteConf : OnOK");
}

void ConferenceControl::OnBnClickedCancel() {
    logMessage(LogLevel::Debug, "CompleteConferenceDlg : button click Cancel : selecting Line 1");
    const bool threeLines = lines_.threeLineMode();
    const bool a = lines_.lineIsUp(threeLines ? 1 : 0);
    const bool b = lines_.lineIsUp(threeLines ? 2 : 1);
    const char* first = threeLines ? "2" : "1";
    const char* second = threeLines ? "3" : "2";
    logMessage(LogLevel::Debug, "CCompleteConferenceDlg %s %s, %s %s", first, a ? "up" : "down", second,
               b ? "up" : "down");
    if (a)
        lines_.selectIaxLine(threeLines ? 1 : 0);
    else if (b)
        lines_.selectIaxLine(threeLines ? 2 : 1);
    lines_.RemoveHold();
}
