#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "AgentActions.h"
#include "agent/AgentButtons.h"
#include "agent/AppletRequests.h"
#include "core/AgentStateMachine.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "core/AgentStatus.h"
#include "core/EventQueue.h"
#include "agent/HeadsetAgent.h"
#include "agent/LoginSettings.h"
#include "core/ScreenState.h"
#include "agent/StoredSettings.h"
#include "cti/CTIConnection.h"
#include "cti/CtiAgent.h"
#include "cti/CtiSession.h"
#include "cti/InboundMessages.h"
#include "cti/OutboundMessages.h"
#include "desktop/BrowserHandler.h"
#include "desktop/CTimer.h"
#include "desktop/ClientListener.h"
#include "desktop/MessageCenter.h"
#include "desktop/Ticker.h"
#include "desktop/WrapUpChecker.h"
#include "infra/Guarded.h"
#include "infra/SettingsStore.h"
#include "infra/ThreadGroup.h"
#include "recording/CallRecorder.h"
#include "recording/RecordingAgent.h"
#include "voice/AudioDeviceSelection.h"
#include "voice/ConferenceControl.h"
#include "voice/Dialer.h"
#include "voice/LineControl.h"
#include "voice/SwitchRegistration.h"
#include "voice/VoiceAgent.h"
#include "voice/VoiceEvents.h"
#include "voice/network/NetworkRecovery.h"

class AgentWindow;
class BrowserView;
class VoiceEngine;

// The agent core: owns the state machine, the agent's state and every component of the
// phone, and is the context the machine runs its actions against. Each action is one line
// that hands the work to the component that owns it.
class CImplementation : public AgentActions,
                        public EventTarget,
                        public CtiAgentControl,
                        public CtiSettings,
                        public CtiLines,
                        public CtiScreen,
                        public VoiceAgent,
                        public WrapUpChecker::Agent,
                        public RecordingAgent,
                        public BrowserHandler::Agent,
                        public AgentButtons::Agent {
public:
    // The outside world the core drives; `clientPort` is the local client listener's port.
    struct Seams {
        AgentWindow& window;
        EventQueue& queue;
        VoiceEngine& voice;
        BrowserView& browser;  // the screen pop's window
        int clientPort = ClientListener::kDefaultPort;
    };

    explicit CImplementation(Seams seams);
    ~CImplementation() override;
    CImplementation(const CImplementation&) = delete;
    CImplementation& operator=(const CImplementation&) = delete;

    // Start-up: stored settings, the voice engine, the event queue with its first event.
    void initialize();
    // Connects to the CTI server with the stored host and port and logs the agent in.
    void doAgentLogin() override;
    bool doAgentReady();
    bool doAgentNotReady() override;
    bool doAgentNotReadyAfterWrapUp();
    void doUnconditionalAgentLogout(bool hangUp) override;
    // Asks for the clean close; it runs on a thread of its own.
    void doWaitforCleanClose() override;
    // Asks the CTI server to log the agent out; the state machine moves on its acknowledgement.
    void requestLogout(const std::string& reason) override;
    void dialPreview(const std::string& number) override { dialer_.dialPreview(number); }

    void QueuePhoneEvent(int event) override { queue_.QueuePhoneEvent(event); }
    void dispatchEvent(int event) override {
        fsm_.dispatchEvent(event, *this);
        if (afterEvent_) afterEvent_();
    }
    // Called on the dispatcher thread after each event has run (a view of the agent's state
    // follows it without polling); set before initialize.
    void setAfterEvent(std::function<void()> observer) { afterEvent_ = std::move(observer); }
    bool isClosing() const override { return isClosing_; }

    // The program's four-part version, as sent at login.
    std::string version() const { return cti_.version.get(); }
    AgentStatus& status() { return status_; }
    Call& call() { return call_; }
    AgentProfile& profile() { return profile_; }
    CtiSession& ctiSession() { return cti_; }
    StoredSettings& storedSettings() { return stored_; }
    LoginSettings& loginSettings() { return loginSettings_; }
    LineControl& lines() { return lines_; }
    ConferenceControl& conferenceControl() { return conference_; }
    WrapUpChecker& wrapUpChecker() { return wrapUp_; }
    OutboundMessages& outbound() { return outbound_; }
    CTIConnection& ctiConnection() { return link_; }
    ClientListener& clientListener() { return listener_; }
    MessageCenter& messageCenter() { return messageCenter_; }
    BrowserHandler& browserHandler() { return browser_; }
    CTimer& callTimer() { return callTimer_; }
    HeadsetControls& headset() { return headset_.controls(); }
    // An incoming line still ringing (engine call 0..2), or -1.
    int ringingLine() const { return voiceEvents_.ringingIncomingLine(); }
    const AgentStateMachine& stateMachine() const { return fsm_; }
    // Runs `use` on the current call's data under its lock; nothing without a call.
    void withCallData(const std::function<void(CallData&)>& use) { cti_.withCallData(use); }
    // The reasons offered in the not-ready menu, by command id 33791 + position.
    std::vector<std::string> notReadyReasons() const override { return notReadyReasons_.get(); }
    // What the window's buttons use.
    AgentButtons::Services buttonServices() {
        return {*this, outbound_, status_, lines_, wrapUp_, call_, profile_, cti_, stored_};
    }

    // Actions of the state machine; the screen state serves its own.
    ScreenActions& screenActions() override { return screen_; }
    void CloseConferenceWindow() override;
    void CloseConnection() override;
    void CloseDialWindow() override;
    void DisableMessageCenter() override;
    void DoAgentReadyThread() override;
    void EnableMessageCenter() override;
    void GetCtiTime() override;
    void HangUpCalls() override;
    void HangUpLine1() override;
    void doHangUpMadeCall() override;
    void doHangUpPrevCall() override;
    void HangUpLine2() override;
    void LeaveConference() override;
    void OpenDial() override;
    void RemoveHold() override;
    void SelectFirstLine() override;
    void SelectSecondLine() override;
    void SendAgentCancelDialingToCti() override;
    void SendAgentDialingToCti() override;
    void SendAgentInCallToCti() override;
    void SendCallAnsweredToCti() override;
    void SendCallNoAnswerToCti() override;
    void SendCalltoQms() override;
    void SendCancelPreviewToCti() override;
    void SendNotReadyAfterWrapUpToCti() override;
    void SendNotReadyReasonSetToCti() override;
    void SendNotReadyToCti() override;
    void SendReadyToCti() override;
    void SendTerminateCallToCti() override;
    void SetCallState() override;
    void SetCallerId() override;
    void SetInCallDistribute() override;
    void SetInCallOutbound() override;
    void SetInCallReadyOutbound() override;
    void SetInWrapUp() override;
    void SetUseOnlytt() override;
    void SetUsing3lines() override;
    void StartListeningForClient() override;
    void StartRecording() override;
    void StartRinging() override;
    void StopListeningForClient() override;
    void StopRecording() override;
    void StopRinging() override;
    void UnregisterChannels() override;
    void UnsetUseOnlytt() override;

    // What the CTI link asks of the agent.
    bool inAgentReadyState() const override;
    void startAgentLogout() override;
    void ReceivedTerminateCall(const std::string& trackNumber) override;
    void SendLoginToCti() override { outbound_.SendLoginToCti(); }
    void SendLogoutToCti() override { outbound_.SendLogoutToCti(); }
    void resetCallTimer() override { callTimer_.reset(); }
    void setAsteriskHost(const std::string& host) override { switch_.setAsteriskHost(host); }
    void setAsteriskPort(int port) override { switch_.setAsteriskPort(port); }
    void setAsteriskCodec(const std::string& codec) override { switch_.setAsteriskCodec(codec); }
    void setAsteriskIaxPassword(const std::string& password) override { switch_.setAsteriskIaxPassword(password); }
    void applyVoiceFormat() override;
    void registerWithSwitch() override;
    bool selectIaxLine(int callNo) override { return lines_.selectIaxLine(callNo); }
    int selectedCall() override { return lines_.selectedCall(); }
    void unquelchAllCalls() override { lines_.unquelchAllCalls(); }
    void setLineTrackNum(const std::string& trackNumber, int line) override { lines_.setLineTrackNum(trackNumber, line); }
    std::string getVelmoraTrackNum(int line) override { return lines_.getVelmoraTrackNum(line); }
    bool lineIsUp(int line) override { return lines_.lineIsUp(line); }
    void clearLineTrackNums() override { lines_.clearLineTrackNums(); }
    void clearCallHeldFlags() override { lines_.clearCallHeldFlags(); }
    void holdCurrentCall() override { OnBnClickedButtonUnHold(); }
    void setAutoUpdateSettings(const std::string& status, const std::string& host, const std::string& port,
                               const std::string& path) override;
    void setRecordingSettings(const std::string& recordings, const std::string& mp3Encoding,
                              const std::string& localRecording, const std::string& minRecordingTime,
                              const std::string& maxRecordingTime, const std::string& sslConnection,
                              const std::string& encodingQuality) override;
    void setWrapUpSettings(const std::string& actionAfterTimeOut, const std::string& maxWrapUp,
                           const std::string& wrapUpTimeOut) override;
    void setPermissions(bool dial, bool transfer, bool conference) override;
    void setRecordServer(const std::string& host, int port, bool ssl) override;
    void showTicker(const TickerText& text) override;
    void openScreenPop(const std::string& url) override;
    void OnSubmitNotify(const std::string& text) override;
    void openDialPad() override;
    void refreshAttachedData() override;
    void setNotReadyReasons(const std::vector<std::string>& reasons) override;
    void queueAlert(const MessageCenterItem& item) override;
    void queueStatistic(const MessageCenterItem& item) override;
    void signalConsultCallResult(bool accepted) override;

    // What the voice lines ask of the agent.
    void reportLineDown(const std::string& lineTrackNumber) override { outbound_.sendLineDown(lineTrackNumber); }
    void SendOnHoldToCti() override { outbound_.SendOnHoldToCti(); }
    void SendUnHoldToCti() override { outbound_.SendUnHoldToCti(); }
    void SendInitiateTransferToCti() override { outbound_.SendInitiateTransferToCti(); }
    void SendCompletedTransferToCti(int type) override { outbound_.SendCompletedTransferToCti(type); }
    void SendCancelTransferToCti() override { outbound_.SendCancelTransferToCti(); }
    void SendConsultCallRequestToCti(int type) override { outbound_.SendConsultCallRequestToCti(type); }
    void SendConsultCallCanceledToCti() override { outbound_.SendConsultCallCanceledToCti(); }
    void SendConferenceCompletedToCti() override { outbound_.SendConferenceCompletedToCti(); }
    void reportCallState(const std::string& result) override { listener_.sendInfo(result); }
    void setInWrapUp(bool inWrapUp) override { wrapUp_.setInWrapUp(inWrapUp); }

    void SendAgentPersonnalDialToCti() override { outbound_.SendAgentPersonnalDialToCti(); }
    void SendAgentReallyDialingToCti() override { outbound_.SendAgentReallyDialingToCti(); }

    // What the wrap-up checker, the buttons and the screen pop ask of the agent.
    void applyActionAfterWrapUp(const std::string& action) override;
    void releaseEndOfWrapUp() override { recorder_.releaseEndOfWrapUp(); }
    void clickReady() override;
    void dial(const std::string& number, const std::string& trackNumber) override { dialer_.dial(number, trackNumber); }
    void setAgentMode(int mode) override { lines_.setAgentMode(mode); }

    // What the recorder asks of the agent.
    RecordingFacts recordingFacts() override;
    void beginRecordedCall(const RecordingFacts& facts) override;
    void endRecordedCall() override;
    void requestCtiTime() override { outbound_.GetCtiTime(); }
    void startCallTimer() override { callTimer_.start(); }
    void clearTickerAfterCall() override;
    void sendRecordingNotice(const std::string& trackNumber, const std::string& nameWithoutExtension) override {
        outbound_.sendRecordingNotice(trackNumber, nameWithoutExtension);
    }

    // What the screen pop asks of the agent.
    void SendTransferToCti() override { outbound_.SendTransferToCti(OutboundMessages::ToPhoneNumber); }

    // The main window's hold pair: Unhold puts the call on hold, Hold takes it off.
    void OnBnClickedButtonUnHold();
    void OnBnClickedButtonHold();
    // The main window's Transfer and Conference buttons (modal: they run the dial window).
    void OnBnClickedButtonTransfer() { conference_.OnBnClickedButtonTransfer(); }
    void OnBnClickedButtonConference();

private:
    void doAgentLogout();
    void releaseIdleAgentChannel();
    void CloseOrvane();
    void closeCtiConnection();
    void openPreviewDial();
    void setInWrapUpForAgent();
    void startListeningForClient();
    void stopListeningForClient();
    void readHostName();
    CtiAgent ctiAgent() { return {*this, *this, *this, *this}; }
    void initializeVoice();

    AgentWindow& window_;
    EventQueue& queue_;
    VoiceEngine& voice_;

    SettingsStore store_;
    AgentStateMachine fsm_;
    AgentStatus status_;
    Call call_;
    AgentProfile profile_;
    CtiSession cti_;
    StoredSettings stored_;
    LoginSettings loginSettings_;
    ScreenState screen_;
    Ticker ticker_;
    MessageCenter messageCenter_;
    Guarded<std::vector<std::string>> notReadyReasons_;
    std::atomic<bool> isClosing_{false};
    std::atomic<bool> voiceReady_{false};  // the voice engine started with its audio devices
    std::atomic<bool> closeRequested_{false};
    std::function<void()> afterEvent_;

    // Components with threads of their own; the destructor ends their threads in order.
    SwitchRegistration switch_;
    ThreadGroup threads_;
    LineControl lines_;
    Dialer dialer_;
    ConferenceControl conference_;
    AudioDeviceChanges audioDevices_;
    VoiceEvents voiceEvents_;
    NetworkRecovery network_;
    CTimer callTimer_;
    WrapUpChecker wrapUp_;
    AppletRequests appletRequests_{{*this, window_, status_, callTimer_, outbound_, dialer_, lines_, call_}};
    ClientListener listener_;
    InboundMessages inbound_;
    CTIConnection link_;
    OutboundMessages outbound_;
    CallRecorder recorder_;
    BrowserHandler browser_;
    HeadsetAgent headset_{*this, window_};
};
