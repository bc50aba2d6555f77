#include "agent/CImplementation.h"

#include <chrono>
#include <thread>

#include <unistd.h>

#include "AgentVocabulary.h"
#include "core/AgentWindow.h"
#include "infra/CLogger.h"
#include "infra/Timing.h"
#include "voice/AudioDeviceSelection.h"
#include "voice/engine/VoiceEngine.h"
#include "voice/network/RouteLookup.h"

#ifndef ORVANE_VERSION
#define ORVANE_VERSION "0.0.0.0"
#endif

namespace {

constexpr int kVoiceCalls = 3;
constexpr int kFirstReasonCommand = 33791;
constexpr std::uint32_t kCloseColour = 0x46839D;  // RGB(70,131,157)

// The program's own status texts that stand still on the ticker (start-up failure, closing).
TickerText fixedStatus(std::string text) { return {std::move(text), kCloseColour, 0x000000, 0, 3}; }
TickerText standingFailure(std::string text) {
    TickerText failure = fixedStatus(std::move(text));
    failure.standing = true;
    return failure;
}

}  // namespace

CImplementation::CImplementation(Seams seams)
    : window_(seams.window),
      queue_(seams.queue),
      voice_(seams.voice),
      store_([this](const std::string& text, const std::string& caption) { window_.showMessageBox(text, caption); }),
      fsm_(queue_),
      stored_(store_),
      loginSettings_(store_),
      screen_(window_, status_, *this),
      ticker_(window_),
      messageCenter_([this](const TickerText& text) { ticker_.setTickerText(text); }),
      switch_(voice_, *this),
      lines_(voice_, call_, *this, threads_),
      dialer_(voice_, lines_, switch_, call_, profile_, status_, *this, threads_),
      conference_(voice_, lines_, switch_, call_, profile_, *this, window_),
      audioDevices_(voice_, *this),
      voiceEvents_(lines_, switch_, audioDevices_, call_, *this),
      network_(voice_, switch_, *this, lookUpRoute),
      callTimer_(window_),
      wrapUp_(*this),
      listener_(appletRequests_, seams.clientPort),
      inbound_(cti_, call_, profile_, status_, ctiAgent()),
      link_(ctiAgent(), inbound_),
      outbound_(link_, cti_, call_, profile_, status_, ctiAgent()),
      recorder_({voice_, *this, loginSettings_}),
      browser_(*this, call_, profile_, seams.browser) {
    cti_.version.set(ORVANE_VERSION);
    wrapUp_.start();
}

CImplementation::~CImplementation() {
    try {
        logMessage(LogLevel::Debug, "Entering the destructor... ~CImplementation");
        isClosing_ = true;
        headset_.controls().stop();
        network_.stop();
        browser_.shutdown();
        messageCenter_.close();
        queue_.join();
        recorder_.shutdown();
        voice_.iaxc_set_event_callback({});
        wrapUp_.stop();
        callTimer_.stop();
        listener_.stop();
        link_.shutdown();
        dialer_.stop();
        threads_.join();
        switch_.stopOnShutdown();
    } catch (const std::exception& error) {
        logMessage(LogLevel::Error, "Error in try catch in ~CImplementation()");
    }
}

void CImplementation::initialize() {
    loginSettings_.resetRecordingSettings();
    logMessage(LogLevel::Debug, "CImplementation::initialize(): Start.");
    std::string agentId = profile_.agentId.get();
    stored_.load(agentId);
    profile_.agentId.set(agentId);
    logMessage(LogLevel::Debug, "INIT 11");
    messageCenter_.start();
    readHostName();
    initializeVoice();
    headset_.controls().start();
}

void CImplementation::readHostName() {
    char name[256] = "";
    if (::gethostname(name, sizeof name - 1) != 0) {
        logMessage(LogLevel::Debug, "Error in getting hostName setting to NA");
        cti_.hostName.set("NotAvailable");
        return;
    }
    logMessage(LogLevel::Debug, "PC hostname [%s]", name);
    cti_.hostName.set(name);
}

void CImplementation::initializeVoice() {
    voiceEvents_.clearPreviousStates();
    voiceReady_ = voice_.iaxc_initialize(kVoiceCalls) == 0;
    if (!voiceReady_) logMessage(LogLevel::Error, "CImplementation::InitializeIax(): Error in iaxc_initialize()");
    queue_.start(*this);
    queue_.QueuePhoneEvent(agent::OkEvent);
    logMessage(LogLevel::Debug, "CImplementation::initialize(): End.");
    if (!voiceReady_) {
        showTicker(standingFailure("Audio device error."));
        window_.disableAllButtons();
    }
    voice_.iaxc_set_event_callback([this](const VoiceEvent& event) { voiceEvents_.iaxc_callback(event); });
    selectAudioDevices(voice_);
    network_.start();
}

void CImplementation::doAgentLogin() {
    lines_.dropBusyLines();
    callTimer_.reset();
    logMessage(LogLevel::Debug, "CImplementation::doAgentLogin()");
    cti_.host.set(stored_.ctiHost.get());
    cti_.port = static_cast<int>(stored_.ctiPort.load());
    link_.setLogin(cti_.host.get(), cti_.port, profile_.agentId.get(), profile_.password.get());
    link_.connect();
}

bool CImplementation::doAgentReady() {
    recorder_.releaseEndOfWrapUp();
    browser_.start();
    QueuePhoneEvent(agent::ReadyEvent);
    wrapUp_.setInWrapUp(false);
    call_.setSubmitPending(false);
    return true;
}

bool CImplementation::doAgentNotReady() {
    logMessage(LogLevel::Debug, "CImplementation::doAgentNotReady()");
    QueuePhoneEvent(agent::NotReadyEvent);
    lines_.HangUpLine1();
    cti_.m_sendNotReady = false;
    logMessage(LogLevel::Debug, "CImplementation::doAgentNotReady() end");
    return true;
}

bool CImplementation::doAgentNotReadyAfterWrapUp() {
    logMessage(LogLevel::Debug, "CImplementation::doAgentNotReadyAfterWrapUp()");
    QueuePhoneEvent(agent::NotReadyAfterWrapUpEvent);
    lines_.HangUpLine1();
    logMessage(LogLevel::Debug, "CImplementation::doAgentNotReadyAfterWrapUp() end");
    return true;
}

void CImplementation::doUnconditionalAgentLogout(bool hangUp) {
    logMessage(LogLevel::Debug, "CImplementation::doUnconditionalAgentLogout()");
    if (hangUp) {
        lines_.HangUpCalls();
        QueuePhoneEvent(agent::UnconditionalLogoutEvent);
    } else {
        QueuePhoneEvent(agent::LogoutNoHangupEvent);
        releaseIdleAgentChannel();
    }
}

// The CTI link is gone and the agent with it. A customer's call stays on; without one, the
// agent channel is released and the phone unregisters, so the switch sends it no more calls.
void CImplementation::releaseIdleAgentChannel() {
    if (status_.inCall || lines_.lineIsUp(1) || lines_.lineIsUp(2)) return;
    threads_.start("releaseIdleAgentChannel", [this] {
        if (lines_.lineIsUp(0)) lines_.selectAndDrop(0);
        UnregisterChannels();
    });
}

void CImplementation::startAgentLogout() {
    browser_.shutdown();
    threads_.start("doAgentLogout", [this] { doAgentLogout(); });
}

void CImplementation::doAgentLogout() {
    lines_.setAgentMode(1);
    QueuePhoneEvent(agent::SubmitSentEvent);
    QueuePhoneEvent(agent::NotReadyEvent);
    logMessage(LogLevel::Debug, "CImplementation::doAgentLogout()");
    recorder_.releaseEndOfWrapUp();
    wrapUp_.setInWrapUp(false);
    callTimer_.stop();
    lines_.dropAllLines();
    QueuePhoneEvent(agent::LogoutEvent);
    screen_.hideAttachedDataButton();
    cti_.setCallData(nullptr);
    UnregisterChannels();
    QueuePhoneEvent(agent::LogoutDoneEvent);
}

void CImplementation::ReceivedTerminateCall(const std::string& trackNumber) {
    logMessage(LogLevel::Debug, "CImplementation::ReceivedTerminateCall()");
    if (lines_.onHold()) lines_.RemoveHold();
    bool shown = false;
    cti_.withCallData([&](CallData& data) {
        data.attachedData().setCallEnded(true);
        shown = true;
    });
    if (shown) window_.refreshAttachedDataWindow();
    for (int line = 0; line < LineControl::kLines; ++line)
        if (lines_.getVelmoraTrackNum(line) == trackNumber) lines_.setLineTrackNum("", line);

    const bool first = lines_.lineIsUp(0);
    const bool second = lines_.lineIsUp(1);
    if (first && second) {
        logMessage(LogLevel::Debug, "CImplementation::ReceivedTerminateCall() 1 up , 2 up");
        QueuePhoneEvent(agent::NotReadyEvent);
        lines_.HangUpLine1();
        lines_.HangUpLine2();
        lines_.setUsing2lines();
    } else if (first) {
        logMessage(LogLevel::Debug, "CImplementation::ReceivedTerminateCall() 1 up , 2 down");
        if (!inAgentReadyState()) doAgentNotReady();
    } else if (second) {
        logMessage(LogLevel::Debug, "CImplementation::ReceivedTerminateCall() 1 down , 2 up");
        lines_.selectIaxLine(1);
        QueuePhoneEvent(agent::NotReadyEvent);
        lines_.setUsing2lines();
    } else {
        logMessage(LogLevel::Debug, "CImplementation::ReceivedTerminateCall() 1 down , 2 down");
        if (lines_.onHold()) lines_.RemoveHold();
        doAgentNotReady();
    }
}

bool CImplementation::inAgentReadyState() const { return fsm_.state() == agent::AgentReady; }

void CImplementation::applyVoiceFormat() {
    switch_.applyVoiceFormat();
    lines_.selectIaxLine(0);
}

void CImplementation::registerWithSwitch() {
    if (!voiceReady_) {  // calls offered to the agent could not be carried: the login ends here
        logMessage(LogLevel::Error, "CImplementation::registerWithSwitch(): Audio device error, not registering");
        showTicker(standingFailure("Audio device error."));
        QueuePhoneEvent(agent::FailedEvent);
        return;
    }
    switch_.registerWithSwitch(profile_.agentId.get(), profile_.password.get(), switch_.asteriskHost(),
                               switch_.asteriskPort());
}

void CImplementation::setAutoUpdateSettings(const std::string& status, const std::string& host, const std::string& port,
                                            const std::string& path) {
    loginSettings_.setAutoUpdateSettings(status, host, port, path);
}

void CImplementation::setRecordingSettings(const std::string& recordings, const std::string& mp3Encoding,
                                           const std::string& localRecording, const std::string& minRecordingTime,
                                           const std::string& maxRecordingTime, const std::string& sslConnection,
                                           const std::string& encodingQuality) {
    loginSettings_.setRecordingSettings(recordings, mp3Encoding, localRecording, minRecordingTime, maxRecordingTime,
                                        sslConnection, encodingQuality);
}

void CImplementation::setWrapUpSettings(const std::string& actionAfterTimeOut, const std::string& maxWrapUp,
                                        const std::string& wrapUpTimeOut) {
    wrapUp_.setWrapUpSettings(actionAfterTimeOut, maxWrapUp, wrapUpTimeOut);
}

void CImplementation::setPermissions(bool dial, bool transfer, bool conference) {
    status_.dialAllowed = dial;
    status_.transferAllowed = transfer;
    status_.conferenceAllowed = conference;
}

void CImplementation::setRecordServer(const std::string& host, int port, bool ssl) {
    loginSettings_.setRecordServer(host, port, ssl);
    if (loginSettings_.recordServer().known()) recorder_.startResend();
}

// Every fact of the call that a recording carries is read here, and only here.
RecordingFacts CImplementation::recordingFacts() {
    const Call::Snapshot call = call_.snapshot();
    RecordingFacts facts;
    facts.trackNumber = call.trackNumber;
    facts.ani = call.ani;
    facts.callTime = call.callDateTime;
    facts.tagging = {call.tags.tagged, call.tags.client, call.tags.campaign, call.tags.status};
    facts.defaultClient = profile_.defaultClient.get();
    facts.defaultCampaign = profile_.defaultCampaign.get();
    facts.agentId = profile_.agentId.get();
    facts.switchHost = switch_.asteriskHost();
    return facts;
}

void CImplementation::beginRecordedCall(const RecordingFacts& facts) {
    const RecordingTagging& tags = facts.tagging;
    call_.beginRecording(facts.callTime, facts.ani, facts.trackNumber,
                         {tags.tagged, tags.client, tags.campaign, tags.status});
}

void CImplementation::endRecordedCall() {
    callTimer_.stop();
    lines_.setUsing2lines();
    call_.setCallDateTime(std::string());
}

void CImplementation::clearTickerAfterCall() {
    if (!browser_.popupInProgress()) window_.showTicker({"", 0x0000FF, 0x000000, 2, 1});
}

void CImplementation::showTicker(const TickerText& text) { ticker_.setTickerText(text); }

void CImplementation::openScreenPop(const std::string& url) { browser_.setUrl(url); }

void CImplementation::OnSubmitNotify(const std::string& text) { browser_.OnSubmitNotify(text); }

void CImplementation::openDialPad() { window_.openDialPad(); }

void CImplementation::refreshAttachedData() { window_.refreshAttachedDataWindow(); }

void CImplementation::setNotReadyReasons(const std::vector<std::string>& reasons) {
    if (reasons.empty()) {  // the button is hidden; the reasons it offers stay
        screen_.hide(Control::NotReadyReason, "CImplementation::HideNotReadyReason()");
        return;
    }
    const std::vector<std::string> previous = notReadyReasons_.get();
    for (std::size_t i = 0; i < previous.size(); ++i) {
        logMessage(LogLevel::Debug, "remove menu item %d", kFirstReasonCommand + static_cast<int>(i));
        logMessage(LogLevel::Debug, "remove menu item %s", std::to_string(kFirstReasonCommand + i).c_str());
    }
    for (const std::string& reason : reasons) logMessage(LogLevel::Debug, "Not Ready Reason to insert [%s]", reason.c_str());
    notReadyReasons_.set(reasons);
    window_.setNotReadyReasons(reasons);
    screen_.ShowNotReadyReason();
}

void CImplementation::queueAlert(const MessageCenterItem& item) {
    messageCenter_.queueAlert({item.text, item.red, item.green, item.blue, item.mode});
}

void CImplementation::queueStatistic(const MessageCenterItem& item) {
    messageCenter_.queueStatistic({item.text, item.red, item.green, item.blue, item.mode});
}

void CImplementation::signalConsultCallResult(bool accepted) {
    if (accepted) conference_.signalConsultResponse();
}

void CImplementation::applyActionAfterWrapUp(const std::string& action) {
    if (action == "READY") {
        callTimer_.reset();
        doAgentReady();
    } else if (action == "LOGGED_OUT") {
        doUnconditionalAgentLogout(true);
    } else {
        doAgentNotReadyAfterWrapUp();
    }
}

void CImplementation::clickReady() {
    logMessage(LogLevel::Debug, "OnBnClickedButtonReady");
    callTimer_.reset();
    doAgentReady();
}

void CImplementation::OnBnClickedButtonUnHold() {
    logMessage(LogLevel::Debug, "COrvaneDlg::OnBnClickedButtonUnHold");
    window_.showControl(Control::Unhold, false);
    window_.showControl(Control::Hold, true);
    lines_.setHoldButtonOn(true);
    lines_.PutCallHold();
}

void CImplementation::OnBnClickedButtonHold() {
    logMessage(LogLevel::Debug, "COrvaneDlg::OnBnClickedButtonHold");
    window_.showControl(Control::Unhold, true);
    window_.showControl(Control::Hold, false);
    lines_.setHoldButtonOn(false);
    lines_.RemoveHold();
}

void CImplementation::OnBnClickedButtonConference() {
    logMessage(LogLevel::Debug, "OnBnClickedButtonConference");
    QueuePhoneEvent(agent::InitiateConferenceEvent);
    conference_.InitiateConference();
}

void CImplementation::closeCtiConnection() {
    logMessage(LogLevel::Debug, "CImplementation::CloseConnection()");
    callTimer_.stop();
    link_.close();
}

void CImplementation::openPreviewDial() {
    logMessage(LogLevel::Debug, "CImplementation::OpenDial()");
    window_.openPreviewDial();
}

// With a not-ready reason chosen the agent is not in wrap-up; otherwise wrap-up starts and
// the local client is told.
void CImplementation::setInWrapUpForAgent() {
    if (!status_.notReadyReason().empty()) {
        wrapUp_.setInWrapUp(false);
        return;
    }
    wrapUp_.setInWrapUp(true);
    listener_.sendInfo("4,WRAP_UP_NOTIFICATION");
}

void CImplementation::startListeningForClient() {
    logMessage(LogLevel::Debug, "StartListeningForClient");
    listener_.start();
}

void CImplementation::stopListeningForClient() {
    logMessage(LogLevel::Debug, "StopListeningForClient");
    listener_.stop();
}

void CImplementation::doWaitforCleanClose() {
    wrapUp_.stop();
    logMessage(LogLevel::Debug, "CImplementation::doWaitforCleanClose()");
    // A close that fails half-way still ends the window, so the program does not linger.
    threads_.start("CloseOrvane", [this] {
        if (!runGuarded("CloseOrvane", [this] { CloseOrvane(); })) window_.closeWindow();
    });
}

void CImplementation::requestLogout(const std::string& reason) {
    cti_.logoutReason.set(reason);
    outbound_.SendLogoutToCti();
}

void CImplementation::CloseOrvane() {
    if (isClosing_ || closeRequested_.exchange(true)) {
        logMessage(LogLevel::Debug, "OnBnClickedClose::Already Closing");
        return;
    }
    logMessage(LogLevel::Debug, "CImplementation::CloseOrvane()");
    stopListeningForClient();
    wrapUp_.setInWrapUp(false);
    logMessage(LogLevel::Debug, "doWaitforCleanClose()");
    if (lines_.anyLineUp()) lines_.dropBusyLines();

    showTicker(fixedStatus("Please wait ... Closing "));
    window_.enableControl(Control::Login, false);

    logMessage(LogLevel::Debug, "Waiting for submit");
    showTicker(fixedStatus("Waiting for popup completion "));
    while (browser_.popupInProgress()) {
        logMessage(LogLevel::Debug, "Waiting for popup completion");
        showTicker(fixedStatus("Waiting for popup completion "));
        std::this_thread::sleep_for(Timing::scaled(intervals::kClosePopupPoll));
    }

    StopRecording();
    recorder_.releaseEndOfWrapUp();
    SendCalltoQms();

    showTicker(fixedStatus("Please wait ... Processing "));
    QueuePhoneEvent(agent::NotReadyEvent);
    queue_.waitUntilEmpty();

    // The closing message goes out before the logout is queued: the dispatcher runs the
    // logout's Close-Connection at once.
    cti_.logoutReason.set("USER_REQUEST_CLOSE");
    outbound_.SendLogoutToCti();
    doUnconditionalAgentLogout(true);
    isClosing_ = true;
    messageCenter_.close();
    link_.close();

    showTicker(fixedStatus("Please wait ... Encoding "));
    recorder_.waitForRecordings();
    logMessage(LogLevel::Debug, "Waiting for message center to stop");
    showTicker(fixedStatus("Waiting for Message Center module to stop"));
    messageCenter_.waitUntilStopped();
    logMessage(LogLevel::Debug, "Message center stopped");

    showTicker(fixedStatus("Please wait ... Closing"));
    std::this_thread::sleep_for(Timing::scaled(intervals::kCloseFinalPause));
    logMessage(LogLevel::Debug, "Finish close");
    window_.closeWindow();
}

// clang-format off
void CImplementation::CloseConferenceWindow() { logMessage(LogLevel::Debug, "CloseConferenceWindow()"); window_.closeCompleteConferenceWindow(); }
void CImplementation::CloseConnection() { closeCtiConnection(); }
void CImplementation::CloseDialWindow() { logMessage(LogLevel::Debug, "CloseDialWindow()"); window_.closeDialWindow(); }
void CImplementation::DisableMessageCenter() { messageCenter_.setEnabled(false); }
void CImplementation::DoAgentReadyThread() { dialer_.DoAgentReadyThread(); }
void CImplementation::EnableMessageCenter() { messageCenter_.setEnabled(true); }
void CImplementation::GetCtiTime() { outbound_.GetCtiTime(); }
void CImplementation::HangUpCalls() { lines_.HangUpCalls(); }
void CImplementation::HangUpLine1() { lines_.HangUpLine1(); }
void CImplementation::doHangUpMadeCall() { lines_.doHangUpMadeCall(); }
void CImplementation::doHangUpPrevCall() { lines_.doHangUpPrevCall(); }
void CImplementation::HangUpLine2() { lines_.HangUpLine2(); }
void CImplementation::LeaveConference() { lines_.LeaveConference(); }
void CImplementation::OpenDial() { openPreviewDial(); }
void CImplementation::RemoveHold() { lines_.RemoveHold(); }
void CImplementation::SelectFirstLine() { lines_.SelectFirstLine(); }
void CImplementation::SelectSecondLine() { lines_.SelectSecondLine(); }
void CImplementation::SendAgentCancelDialingToCti() { outbound_.SendAgentCancelDialingToCti(); }
void CImplementation::SendAgentDialingToCti() { outbound_.SendAgentDialingToCti(); }
void CImplementation::SendAgentInCallToCti() { outbound_.SendAgentInCallToCti(); }
void CImplementation::SendCallAnsweredToCti() { outbound_.SendCallAnsweredToCti(); }
void CImplementation::SendCallNoAnswerToCti() { outbound_.SendCallNoAnswerToCti(); }
void CImplementation::SendCalltoQms() { recorder_.SendCalltoQms(); }
void CImplementation::SendCancelPreviewToCti() { outbound_.SendCancelPreviewToCti(); }
void CImplementation::SendNotReadyAfterWrapUpToCti() { outbound_.SendNotReadyAfterWrapUpToCti(); }
void CImplementation::SendNotReadyReasonSetToCti() { outbound_.SendNotReadyReasonSetToCti(); }
void CImplementation::SendNotReadyToCti() { outbound_.SendNotReadyToCti(); }
void CImplementation::SendReadyToCti() { outbound_.SendReadyToCti(); }
void CImplementation::SendTerminateCallToCti() { outbound_.SendTerminateCallToCti(); }
void CImplementation::SetCallState() { lines_.SetCallState(); }
void CImplementation::SetCallerId() { lines_.SetCallerId("", ""); }
void CImplementation::SetInCallDistribute() { lines_.setCallType("DISTRIBUTE"); }
void CImplementation::SetInCallOutbound() { lines_.setCallType("OUTBOUND"); }
void CImplementation::SetInCallReadyOutbound() { lines_.setCallType("READYOUTBOUND"); }
void CImplementation::SetInWrapUp() { setInWrapUpForAgent(); }
void CImplementation::SetUseOnlytt() { lines_.setUseOnlytt(true); }
void CImplementation::SetUsing3lines() { lines_.SetUsing3lines(); }
void CImplementation::StartListeningForClient() { startListeningForClient(); }
void CImplementation::StartRecording() { recorder_.StartRecording(); }
void CImplementation::StartRinging() { lines_.StartRinging(); }
void CImplementation::StopListeningForClient() { stopListeningForClient(); }
void CImplementation::StopRecording() { recorder_.StopRecording(); }
void CImplementation::StopRinging() { lines_.StopRinging(); }
void CImplementation::UnregisterChannels() { switch_.UnregisterChannels(profile_.agentId.get(), profile_.password.get()); }
void CImplementation::UnsetUseOnlytt() { lines_.setUseOnlytt(false); }
// clang-format on
