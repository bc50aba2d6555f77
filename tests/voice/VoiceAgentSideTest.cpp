#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "AgentVocabulary.h"
#include "core/AgentTables.h"
#include "core/AgentStatus.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"
#include "support/FakeVoiceEngine.h"
#include "support/LogCapture.h"
#include "support/RecordingVoiceAgent.h"
#include "voice/AudioDeviceSelection.h"
#include "voice/Dialer.h"
#include "voice/LineControl.h"
#include "voice/SwitchRegistration.h"
#include "voice/VoiceAgent.h"
#include "voice/VoiceEvents.h"

namespace {

using Strings = std::vector<std::string>;
using RecordingAgent = RecordingVoiceAgent;

class VoiceSideTest : public ::testing::Test {
protected:
    VoiceSideTest() {
        Timing::setScale(0.001);
        profile.agentId.set("4711");
        switchRegistration.setAsteriskHost("pbx");
        switchRegistration.setAsteriskPort(4569);
    }
    ~VoiceSideTest() override {
        threads.join();
        Timing::setScale(1.0);
    }

    LogCapture log;
    FakeVoiceEngine engine;
    Call call;
    AgentProfile profile;
    AgentStatus status;
    RecordingAgent agentSide;
    ThreadGroup threads;
    SwitchRegistration switchRegistration{engine, agentSide};
    LineControl lines{engine, call, agentSide, threads};
    Dialer dialer{engine, lines, switchRegistration, call, profile, status, agentSide, threads};
    AudioDeviceChanges audioDevices{engine, agentSide};
    VoiceEvents events{lines, switchRegistration, audioDevices, call, agentSide};
};

}  // namespace

TEST_F(VoiceSideTest, StateBitsOfEachLineBecomeLineStatusAndEvents) {
    const int active = VoiceEvent::Active | VoiceEvent::Outgoing;
    engine.iaxc_set_call_tag(1, "T2");
    events.iaxc_callback([&] {
        VoiceEvent e;
        e.type = VoiceEvent::State;
        e.callNo = 0;
        e.state = active;
        return e;
    }());
    EXPECT_TRUE(agentSide.calls().empty());  // active without an answer

    auto state = [&](int callNo, int bits) {
        VoiceEvent e;
        e.type = VoiceEvent::State;
        e.callNo = callNo;
        e.state = bits;
        EXPECT_EQ(events.iaxc_callback(e), 0);
    };
    state(0, active | VoiceEvent::Complete);
    state(0, active | VoiceEvent::Complete);  // the same bits again: nothing
    state(1, active | VoiceEvent::Complete);
    state(1, 0);                              // both bits fall: only the hang-up
    state(2, 0);                              // never active: nothing
    state(7, active | VoiceEvent::Complete);  // not a line
    EXPECT_EQ(agentSide.calls(), (Strings{"event First-Line-Completed-Event", "event Second-Line-Completed-Event",
                                          "137 T2", "event Second-Line-Hang-Up-Event"}));
    EXPECT_TRUE(lines.lineIsUp(0));
    EXPECT_FALSE(lines.lineIsUp(1));
    EXPECT_EQ(engine.iaxc_get_call_tag(1).value(), "");
    EXPECT_TRUE(log.contains("Set line 2 status DOWN"));
}

TEST_F(VoiceSideTest, TextAndRegistrationResultsBecomeAgentEvents) {
    VoiceEvent text;
    text.type = VoiceEvent::Text;
    text.message = "Incoming call on line 2";
    EXPECT_EQ(events.iaxc_callback(text), 1);
    text.message = "Incoming call on line 1";
    EXPECT_EQ(events.iaxc_callback(text), 1);

    engine.emit(VoiceEvent{});  // nothing installed: no effect
    VoiceEvent result;
    result.type = VoiceEvent::Result;
    result.resultCode = VoiceEvent::RegistrationRejected;
    result.message = "Registration rejected";
    events.iaxc_callback(result);
    result.resultCode = VoiceEvent::RegistrationAccepted;
    events.iaxc_callback(result);
    result.resultCode = VoiceEvent::IncomingCall;
    events.iaxc_callback(result);
    VoiceEvent unknown;
    unknown.type = 42;
    events.iaxc_callback(unknown);

    EXPECT_EQ(agentSide.calls(), (Strings{"event In-Call-Event", "ticker [Registration rejected from switch !]",
                                          "event Failed-Event", "ticker []", "event Login-Done-Event"}));
    EXPECT_TRUE(engine.has("stop processing"));
    EXPECT_TRUE(log.contains("iaxc_callback(): Type: [42]. Unknown"));
}

TEST_F(VoiceSideTest, RegistrationRestartsTheLoopAndNeverLogsThePassword) {
    switchRegistration.setAsteriskCodec("");
    EXPECT_EQ(switchRegistration.asteriskCodec(), "CODEC_ULAW");
    switchRegistration.applyVoiceFormat();
    switchRegistration.registerWithSwitch("4711", "s3cret", "pbx", 4569);
    EXPECT_EQ(engine.operations(),
              (Strings{"codec 4", "start processing", "stop processing", "start processing", "register 4711 s3cret pbx:4569"}));
    for (const std::string& line : log.lines()) EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;

    engine.clearOperations();
    switchRegistration.registerWithSwitch("4711", "s3cret", "NotAvailable", 4569);
    switchRegistration.registerWithSwitch("4711", "s3cret", "", 0);
    EXPECT_EQ(agentSide.calls(), (Strings{"event Failed-Event", "event Failed-Event"}));
    EXPECT_EQ(engine.count("register 4711 s3cret pbx:4569"), 0);

    engine.clearOperations();
    switchRegistration.UnregisterChannels("4711", "s3cret");  // nothing registered: the loop stops at once
    switchRegistration.UnregisterChannels("4711", "s3cret");
    EXPECT_EQ(engine.operations(),
              (Strings{"unregister 4711 s3cret pbx:4569", "stop processing", "unregister 4711 s3cret pbx:4569"}));
}

// Once the switch has accepted the agent, a lost registration is shown and retried by the
// engine with the loop running, and its recovery is shown; a login's rejection still ends the
// login. A release keeps the loop until the switch has answered it.
TEST_F(VoiceSideTest, ALostRegistrationKeepsTheLoopAndTheReleaseStopsItOnlyOnceAnswered) {
    auto result = [&](int code) {
        VoiceEvent event;
        event.type = VoiceEvent::Result;
        event.resultCode = code;
        events.iaxc_callback(event);
    };
    switchRegistration.registerWithSwitch("4711", "s3cret", "pbx", 4569);
    engine.clearOperations();
    result(VoiceEvent::RegistrationAccepted);
    result(VoiceEvent::RegistrationRejected);  // a refresh went unanswered
    result(VoiceEvent::RegistrationRejected);
    result(VoiceEvent::RegistrationAccepted);  // registered again
    EXPECT_EQ(agentSide.calls(),
              (Strings{"ticker []", "event Login-Done-Event", "ticker [Switch registration lost, retrying...]",
                       "ticker [Switch registration restored]"}));
    EXPECT_TRUE(engine.operations().empty());
    EXPECT_TRUE(log.contains(
        "SwitchRegistration::registrationRejected(): Registration with the switch [pbx:4569] lost, registering again"));
    EXPECT_TRUE(
        log.contains("SwitchRegistration::registrationAccepted(): Registered with the switch [pbx:4569] again"));

    engine.releasesStarted = 1;
    switchRegistration.UnregisterChannels("4711", "s3cret");
    switchRegistration.UnregisterChannels("4711", "s3cret");  // logout's second release, while the first goes on
    EXPECT_EQ(engine.operations(), (Strings{"unregister 4711 s3cret pbx:4569", "unregister 4711 s3cret pbx:4569"}));
    EXPECT_FALSE(log.contains("1505 !!!!!!!!! iaxc_stop_processing_thread !!!!!!!!!!"));
    result(VoiceEvent::RegistrationReleased);
    result(VoiceEvent::RegistrationReleased);
    EXPECT_EQ(engine.count("stop processing"), 1);
    EXPECT_EQ(log.count("1505 !!!!!!!!! iaxc_stop_processing_thread !!!!!!!!!!"), 1);

    agentSide.clear();
    switchRegistration.registerWithSwitch("4711", "s3cret", "pbx", 4569);
    result(VoiceEvent::RegistrationRejected);  // the next login is refused
    EXPECT_EQ(agentSide.calls(), (Strings{"ticker [Registration rejected from switch !]", "event Failed-Event"}));
    EXPECT_EQ(engine.count("stop processing"), 2);  // the release's and the rejection's
}

TEST(SwitchRegistrationCodecs, NamesMapToFormatBitsAndEverythingElseIsMuLaw) {
    EXPECT_EQ(SwitchRegistration::codecFormat("ulaw"), 4);
    EXPECT_EQ(SwitchRegistration::codecFormat("alaw"), 8);
    EXPECT_EQ(SwitchRegistration::codecFormat("ilbc"), 1024);
    EXPECT_EQ(SwitchRegistration::codecFormat("speex"), 512);
    EXPECT_EQ(SwitchRegistration::codecFormat("gsm"), 2);
    for (const char* other : {"CODEC_ULAW", "GSM", "", "g729"}) EXPECT_EQ(SwitchRegistration::codecFormat(other), 4);
}

TEST_F(VoiceSideTest, ManualAndPreviewDialsBuildTheirDialStrings) {
    dialer.dial("", "T1");
    EXPECT_TRUE(engine.operations().empty());

    engine.iaxc_select_call(1);
    engine.clearOperations();
    dialer.dial("0612345678901234567890", "T9");
    EXPECT_EQ(engine.operations(),
              (Strings{"callerid [4711] [4711]", "call 4711@pbx:4569/MCALL0612345678901234567890^T9"}));
    EXPECT_EQ(call.snapshot().dialledNumber, "06123456789012345678");
    EXPECT_EQ(engine.iaxc_get_call_tag(1).value(), "T9");
    EXPECT_EQ(agentSide.calls(), Strings{"event In-Call-Event"});

    agentSide.clear();
    engine.clearOperations();
    profile.callPrefix.set("9");
    call.startPreview({"T10", "555", "ACME", "0800", "", "", ""});
    lines.setLineStatusUp(0);
    dialer.dialPreview("555");
    EXPECT_EQ(engine.operations(), (Strings{"select 1", "callerid [ACME] [0800]", "call 4711@pbx:4569/9555"}));
    lines.setLineStatusDown(0);
    engine.clearOperations();
    dialer.dialPreview("555");
    EXPECT_EQ(engine.operations().front(), "select 0");
    EXPECT_EQ(agentSide.calls(), (Strings{"event Dialing-In-Progress-Event", "event Dialing-In-Progress-Event"}));
}

TEST_F(VoiceSideTest, RemoteDialsTakeTheirLineFromTheStateAndAStopEndsTheWaitWithoutDialling) {
    const std::stop_source running;
    status.setAgentState("AgentReadyInCall");
    EXPECT_FALSE(dialer.remoteDial("0612", "T5", running.get_token()));
    EXPECT_EQ(agentSide.calls(), (Strings{"ticker [Remote dial [0612]]",
                                          "ticker [Must be in [Not Ready] or [Ready] mode to receive event]"}));
    EXPECT_TRUE(engine.operations().empty());

    agentSide.clear();
    profile.callPrefix.set("9");
    status.setAgentState("AgentReady");
    lines.setLineTrackNum("T7", 1);  // the CTI server's answer is already in
    EXPECT_TRUE(dialer.remoteDial("0612", "T5", running.get_token()));
    EXPECT_EQ(agentSide.calls(),
              (Strings{"ticker [Remote dial [0612]]", "99", "close dial window", "131",
                       std::string("event ") + agent::EventNames[agent::DialingEvent], "event In-Call-Event"}));
    EXPECT_EQ(engine.operations().front(), "select 1");
    EXPECT_TRUE(engine.has("call 4711@pbx:4569/MCALL90612^T5"));
    EXPECT_EQ(call.snapshot().ani, "0612");

    agentSide.clear();
    engine.clearOperations();
    status.setAgentState("AgentNotReady");
    std::stop_source stopping;
    stopping.request_stop();  // the listener stops while the track number is awaited
    EXPECT_TRUE(dialer.remoteDial("0613", "T6", stopping.get_token()));
    EXPECT_EQ(agentSide.calls(), (Strings{"ticker [Remote dial [0613]]", "99", "close dial window"}));
    EXPECT_EQ(engine.operations(), Strings{"select 0"});
    EXPECT_FALSE(call.snapshot().remoteDial);
    EXPECT_TRUE(log.contains("ClientListener::handleOutsideDial - stopped while waiting for the tracknum, no dial"));
}

TEST_F(VoiceSideTest, ReadyAttemptSucceedsWhenTheAgentBecomesReady) {
    status.setAgentState("AgentGoingReadyInProgress");
    status.agentReady = true;
    dialer.DoAgentReadyThread();
    threads.join();
    EXPECT_EQ(lines.agentMode(), 2);
    EXPECT_TRUE(engine.has("call_on_line 0 4711@pbx:4569/ZQ4711"));
    EXPECT_EQ(agentSide.calls(), Strings{"event In-Progress-Event"});
    EXPECT_TRUE(log.contains("doAgentReadyThread(): Dial was succesfull"));
    EXPECT_EQ(dialer.readyAttempts(), 0);
}

TEST_F(VoiceSideTest, UnansweredReadyAttemptsRetryThroughWrapUpThreeTimesThenStayNotReady) {
    status.setAgentState("AgentGoingReadyInProgress");
    for (int attempt = 0; attempt < 4; ++attempt) {
        agentSide.clear();
        dialer.DoAgentReadyThread();
        threads.join();
        const Strings expected =
            attempt < 3 ? Strings{"event In-Progress-Event", "event First-Line-Timeout-Event", "wrap-up on"}
                        : Strings{"event In-Progress-Event", "event First-Line-Timeout-Event", "wrap-up false"};
        EXPECT_EQ(agentSide.calls(), expected) << "attempt " << attempt;
    }
    EXPECT_EQ(log.count("doAgentReadyThread(): No dial answer from Asterisk, waiting 9/10"), 4);
    EXPECT_EQ(dialer.readyAttempts(), 3);
}

TEST_F(VoiceSideTest, HoldReportsOnlyTheCustomerLineAndOnlyOnce) {
    engine.iaxc_select_call(0);
    lines.PutCallHold();
    lines.PutCallHold();
    EXPECT_TRUE(lines.onHold());
    lines.RemoveHold();
    lines.RemoveHold();
    EXPECT_FALSE(lines.onHold());
    EXPECT_EQ(agentSide.calls(), (Strings{"100", "101"}));
    EXPECT_EQ(engine.count("quelch 0 1"), 2);
    EXPECT_EQ(engine.count("unquelch 0"), 2);
    EXPECT_EQ(log.count("COrvaneDlg::Already sent hold cant send it again"), 1);

    agentSide.clear();
    lines.SetUsing3lines();
    lines.PutCallHold();  // call 0 is not the customer line in three-line mode
    EXPECT_TRUE(agentSide.calls().empty());
    EXPECT_FALSE(lines.onHold());
}

TEST_F(VoiceSideTest, CallStateReportsTheSecondLineUnlessCallZeroIsSelected) {
    call.setDialDestination("0612");
    engine.iaxc_set_call_tag(0, "T1");
    engine.iaxc_set_call_tag(1, "T2");
    lines.setLineStatusUp(1);
    engine.iaxc_select_call(2);
    lines.SetCallState();
    engine.iaxc_select_call(0);
    lines.SetCallState();
    EXPECT_EQ(agentSide.calls(), (Strings{"client 1,0612^T2^SUCCESS", "client 1,0612^T1^FAILED"}));
}

TEST_F(VoiceSideTest, HangUpsRunOnTheirOwnThreadsInLineOrder) {
    engine.iaxc_select_call(0);
    lines.PutCallHold();
    engine.clearOperations();
    lines.HangUpCalls();
    threads.join();
    EXPECT_EQ(engine.operations(), (Strings{"unquelch 0", "dump all"}));

    engine.clearOperations();
    lines.SetUsing3lines();
    lines.LeaveConference();
    threads.join();
    EXPECT_EQ(engine.operations(), (Strings{"select 2", "dump 2", "select 1", "dump 1", "select 0", "dump 0"}));

    engine.clearOperations();
    lines.HangUpLine2();
    threads.join();
    EXPECT_EQ(engine.operations(), (Strings{"select 1", "dump 1"}));
}

TEST(AudioDeviceSelection, TheLastHeadsetListedWinsEachRoleItOffers) {
    LogCapture log;
    FakeVoiceEngine engine;
    engine.devices = {{"default", AudioDevice::Capture | AudioDevice::Play | AudioDevice::Ring, 0},
                      {"Plantronics Blackwire", AudioDevice::Capture | AudioDevice::Play, 3},
                      {"PLTDA60 USB", AudioDevice::Play, 5}};
    engine.currentInput = 0;
    engine.currentOutput = 0;
    engine.currentRing = 0;
    selectAudioDevices(engine);
    EXPECT_TRUE(engine.has("devices 3 5 0"));
    EXPECT_TRUE(log.contains("Plantronic Input device found: ID:[3] [Plantronics Blackwire]"));
    EXPECT_TRUE(log.contains("Ring device found: ID:[0] [default]"));
    EXPECT_TRUE(log.contains("Device selected : input[3] output[5] ring[0]"));

    FakeVoiceEngine plain;
    plain.currentInput = 1;
    plain.currentOutput = 2;
    plain.currentRing = 3;
    selectAudioDevices(plain);
    EXPECT_TRUE(plain.has("devices 1 2 3"));
}

// The headset goes away mid-call and comes back between calls: the agent is told of both,
// and the headset rule runs again on the new list, with its new ids.
TEST_F(VoiceSideTest, AHeadsetLostMidCallIsToldAndChosenAgainWhenItIsBack) {
    const auto result = [&](int code, const std::string& message) {
        VoiceEvent e;
        e.type = VoiceEvent::Result;
        e.resultCode = code;
        e.message = message;
        events.iaxc_callback(e);
    };
    result(VoiceEvent::AudioDeviceLost, "input [Plantronics Blackwire] output [Plantronics Blackwire]");
    EXPECT_EQ(agentSide.calls(), (Strings{"ticker [Audio device lost, using the default device]"}));
    EXPECT_TRUE(log.mentions("Audio device lost mid-call, input [Plantronics Blackwire]"));

    agentSide.clear();
    result(VoiceEvent::AudioDevicesChanged, "1 devices: default");  // still without the headset
    EXPECT_TRUE(agentSide.calls().empty());
    EXPECT_TRUE(engine.has("devices 0 0 0"));

    engine.devices = {{"default", AudioDevice::Capture | AudioDevice::Play | AudioDevice::Ring, 0},
                      {"Plantronics Blackwire", AudioDevice::Capture | AudioDevice::Play | AudioDevice::Ring, 1}};
    result(VoiceEvent::AudioDevicesChanged, "2 devices: default, Plantronics Blackwire");
    EXPECT_TRUE(engine.has("devices 1 1 1"));
    EXPECT_EQ(agentSide.calls(), (Strings{"ticker [Headset back, used from the next call]"}));

    agentSide.clear();  // a later change with the headset still there says nothing more
    result(VoiceEvent::AudioDevicesChanged, "2 devices: default, Plantronics Blackwire");
    EXPECT_TRUE(agentSide.calls().empty());
}
