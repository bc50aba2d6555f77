#include "voice/Dialer.h"

#include <thread>

#include "AgentVocabulary.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "core/AgentStatus.h"
#include "infra/CLogger.h"
#include "infra/StoppablePause.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"
#include "voice/LineControl.h"
#include "voice/SwitchRegistration.h"
#include "voice/VoiceAgent.h"
#include "voice/engine/VoiceEngine.h"

Dialer::Dialer(VoiceEngine& engine, LineControl& lines, SwitchRegistration& switchRegistration, Call& call,
               const AgentProfile& profile, AgentStatus& status, VoiceAgent& agent, ThreadGroup& threads)
    : engine_(engine),
      lines_(lines),
      switch_(switchRegistration),
      call_(call),
      profile_(profile),
      status_(status),
      agent_(agent),
      threads_(threads) {}

std::string Dialer::dialString(const std::string& extension) const {
    return profile_.agentId.get() + "@" + switch_.switchAddress() + "/" + extension;
}

void Dialer::dial(const std::string& number, const std::string& trackNumber) {
    if (number.empty()) return;
    call_.setDialledNumber(number);
    logMessage(LogLevel::Debug, "CImplementation::dial(): [%s]", number.c_str());
    const std::string destination = dialString("MCALL" + number + "^" + trackNumber);
    logMessage(LogLevel::Debug, "CImplementation::dial(): Destination: [%s]", destination.c_str());
    const std::string agentId = profile_.agentId.get();
    lines_.SetCallerId(agentId, agentId);
    const bool placed = engine_.iaxc_call(destination) >= 0;
    if (placed) agent_.QueuePhoneEvent(agent::InCallEvent);
    lines_.setLineTrackNum(trackNumber, LineControl::kSelectedLine);
    if (!placed) dialFailed("CImplementation::dial()", destination);
}

void Dialer::dialFailed(const char* operation, const std::string& destination) {
    lines_.reportDialFailure(operation, destination);
    lines_.SetCallState();
    agent_.QueuePhoneEvent(LineControl::lineDownEvent(lines_.selectedCall()));
}

void Dialer::dialPreview(const std::string& number) {
    if (number.empty()) return;
    logMessage(LogLevel::Debug, "CImplementation::dialPreview(): [%s]", number.c_str());
    if (lines_.lineIsUp(0)) {
        lines_.selectIaxLine(1);
        logMessage(LogLevel::Debug, "CImplementation::dialPreview(): SECOND_LINE selected in DIAL");
    } else {
        lines_.selectIaxLine(0);
        logMessage(LogLevel::Debug, "CImplementation::dialPreview(): FIRST_LINE selected on DIAL");
    }
    agent_.QueuePhoneEvent(agent::DialingInProgressEvent);
    const std::string destination = dialString(profile_.callPrefix.get() + number);
    logMessage(LogLevel::Debug, "CImplementation::dialPreview(): Destination: [%s]", destination.c_str());
    const Call::Snapshot call = call_.snapshot();
    lines_.SetCallerId(call.callerIdName, call.callerIdNumber);
    if (engine_.iaxc_call(destination) < 0) dialFailed("CImplementation::dialPreview()", destination);
}

bool Dialer::remoteDial(const std::string& number, const std::string& trackNumber, const std::stop_token& stop) {
    const std::string text = "Remote dial [" + number + "]";
    logMessage(LogLevel::Debug, "%s", text.c_str());
    agent_.showTicker({text, 0x0000FF, 0x000000, 0, 3});

    const std::string state = status_.agentState();
    int line = 0;
    const char* block = nullptr;
    if (state == "AgentNotReady") {
        line = 0;
        block = "%s - sleeping for tracknum block AgentNotReady";
    } else if (state == "AgentReady") {
        line = 1;
        block = "%s - sleeping for tracknum block AgentReady";
    } else {
        agent_.showTicker(TickerText::alert("Must be in [Not Ready] or [Ready] mode to receive event"));
        return false;
    }

    call_.beginRemoteDial(number);
    lines_.selectIaxLine(line);
    agent_.SendAgentPersonnalDialToCti();
    agent_.CloseDialWindow();
    for (int wait = 0; wait < intervals::kRemoteDialTrackNumberWaits && lines_.getVelmoraTrackNum(line).empty();
         ++wait) {
        logMessage(LogLevel::Debug, block, "ClientListener::handleOutsideDial");
        if (!pauseUnlessStopped(stop, intervals::kRemoteDialTrackNumberWait)) {
            logMessage(LogLevel::Debug, "ClientListener::handleOutsideDial - stopped while waiting for the tracknum, no dial");
            call_.endRemoteDial();
            return true;
        }
    }
    agent_.SendAgentReallyDialingToCti();
    agent_.QueuePhoneEvent(agent::DialingEvent);
    call_.setAni(number);
    dial(profile_.callPrefix.get() + number, trackNumber);
    return true;
}

void Dialer::DoAgentReadyThread() {
    threads_.start("doAgentReadyThread", [this] { doAgentReadyThread(); });
    lines_.setAgentMode(2);
}

bool Dialer::goingReady() const {
    const std::string state = status_.agentState();
    return state == "AgentGoingReadyInProgress" || state == "AgentGoingReady";
}

void Dialer::doAgentReadyThread() {
    call_.endRemoteDial();
    lines_.selectIaxLine(0);
    agent_.QueuePhoneEvent(agent::InProgressEvent);
    const std::string destination = dialString("ZQ" + profile_.agentId.get());
    logMessage(LogLevel::Debug, "doAgentReadyThread(): Dial:[%s]", destination.c_str());
    engine_.iaxc_call_on_line(destination, 0);
    logMessage(LogLevel::Debug, "doAgentReadyThread(): After Dial");

    bool answered = false;
    for (int pass = 0; pass < intervals::kReadyDialPolls && goingReady() && !stopping_; ++pass) {
        if (status_.agentReady) {
            logMessage(LogLevel::Debug, "doAgentReadyThread(): Dial was succesfull");
            readyAttempts_ = 0;
            answered = true;
            break;
        }
        logMessage(LogLevel::Debug, "doAgentReadyThread(): No dial answer from Asterisk, waiting %d/10", pass);
        std::this_thread::sleep_for(Timing::scaled(intervals::kReadyDialPoll));
    }
    if (answered || stopping_ || status_.agentState() != "AgentGoingReadyInProgress") return;

    agent_.QueuePhoneEvent(agent::FirstLineTimeoutEvent);
    // The unanswered agent channel would keep line 1 busy, and the next Ready dial on that
    // line would then fail every time.
    lines_.HangUpLine1();
    if (readyAttempts_ > 2) {
        agent_.setInWrapUp(false);
        logMessage(LogLevel::Debug, "doAgentReadyThread(): maximum Ready attemps  reached [%d] will now stay not ready",
                   readyAttempts_.load());
    } else {
        agent_.SetInWrapUp();
        logMessage(LogLevel::Debug,
                   "doAgentReadyThread(): maximum Ready attemps not reached [%d], will try once more",
                   readyAttempts_.load());
        ++readyAttempts_;
    }
    logMessage(LogLevel::Debug, "doAgentReadyThread(): Timeout on Asterisk dial, going back to not ready");
}
