#include "PhoneFixture.h"

#include <unistd.h>

namespace {

std::string hostName() {
    char name[256] = "";
    ::gethostname(name, sizeof name - 1);
    return name;
}

using CtiLinkTest = PhoneFixture;

}  // namespace

TEST_F(CtiLinkTest, LoginSendsHelloAndLoginAndAppliesTheServersSettings) {
    startPhone();
    clickLogin();
    EXPECT_EQ(sent("0,"), "0,orvane^NULL^127.0.0.1^1001^pw");
    EXPECT_EQ(sent("34,"), "34,0^1001^pw^" + hostName() + "^1.0.0.1");
    ASSERT_TRUE(waitForState(agent::AgentLoggingInWhithNotReady));
    EXPECT_EQ(core.status().agentState(), "AgentLoggedInWhithNotReadyState");
    ASSERT_TRUE(eventually([&] { return voice.has("register 1001 pw 127.0.0.1:4569"); }));
    EXPECT_TRUE(voice.has("codec 4"));
    EXPECT_TRUE(tickerShowed("Registering with switch, please wait..."));
    EXPECT_TRUE(core.status().dialAllowed);
    EXPECT_EQ(core.wrapUpChecker().actionAfterTimeOut(), "READY");
    EXPECT_EQ(core.notReadyReasons(), (std::vector<std::string>{"Break", "Lunch", "Training"}));
    EXPECT_TRUE(core.loginSettings().recording().active);
    EXPECT_EQ(core.loginSettings().recording().minRecordingTime, 1);

    voice.emitResult(VoiceEvent::RegistrationAccepted, "Registration accepted");
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_EQ(window.ticker().text, "");
    EXPECT_EQ(window.caption(), "Orvane  [Not Ready]");
    EXPECT_TRUE(window.control(Control::Logout).visible);
    EXPECT_TRUE(window.control(Control::Logout).enabled);
    EXPECT_TRUE(window.control(Control::Ready).enabled);
    EXPECT_FALSE(window.control(Control::Login).visible);
    EXPECT_TRUE(eventually([&] { return core.clientListener().port() != 0; }));

    // The password reached the wire but never the phone's log lines (the lab server logs its own).
    for (const std::string& line : log.lines()) {
        const bool phoneLine = line.find("LabCtiServer:") == std::string::npos;
        EXPECT_FALSE(phoneLine && line.find("^pw") != std::string::npos) << line;
    }
}

TEST_F(CtiLinkTest, ReadyAfterLoginGoesReadyOnceTheAgentChannelAnswers) {
    server.configure([](LabCtiOptions& options) { options.group->readyAfterLogin = "1"; });
    startPhone();
    clickLogin();
    ASSERT_TRUE(waitForState(agent::AgentLoggingIn));
    ASSERT_TRUE(eventually([&] { return voice.has("register 1001 pw 127.0.0.1:4569"); }));
    voice.emitResult(VoiceEvent::RegistrationAccepted);
    ASSERT_TRUE(waitForState(agent::AgentGoingReadyInProgress));
    ASSERT_TRUE(eventually([&] { return voice.has("call_on_line 0 1001@127.0.0.1:4569/ZQ1001"); }));
    answerLine(0);
    ASSERT_TRUE(waitForState(agent::AgentReady));
    EXPECT_EQ(sent("36,"), "36,0^1001");
    EXPECT_EQ(core.status().agentState(), "AgentReady");
    EXPECT_EQ(window.caption(), "Orvane  Orvane [Ready]");
    EXPECT_TRUE(window.control(Control::NotReady).visible);
    EXPECT_FALSE(window.control(Control::Ready).visible);
}

TEST_F(CtiLinkTest, ASwitchThatAnswersBeforeTheRegistrationCallReturnsLeavesNoWaitingText) {
    voice.registrationAnswer = VoiceEvent::RegistrationAccepted;
    startPhone();
    clickLogin();
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    // A later message handled proves the login handler has returned.
    server.push(labcti::velmoraTracknum("T7", "2"));
    ASSERT_TRUE(eventually([&] { return voice.iaxc_get_call_tag(2).value_or("") == "T7"; }));
    EXPECT_EQ(window.ticker().text, "");
}

TEST_F(CtiLinkTest, NotReadyWithAReasonSendsTwoMessagesAndTheAcknowledgementKeepsTheReason) {
    loginNotReady();
    server.clearReceived();
    buttons.OnNotReadyReasonChosen(AgentButtons::kFirstReasonCommand + 1);  // Lunch
    EXPECT_EQ(sent("406,"), "406,0^1001");
    ASSERT_TRUE(server.waitForCount([](const std::string& m) { return m.rfind("37,", 0) == 0; }, 2, kWait));
    std::vector<std::string> notReady;
    for (const std::string& text : server.receivedTexts())
        if (text.rfind("37,", 0) == 0) notReady.push_back(text);
    EXPECT_EQ(notReady, (std::vector<std::string>{"37,0^1001", "37,0^1001^Lunch"}));
    ASSERT_TRUE(eventually([&] { return log.contains("m_sendNotReady TRUE"); }));
    EXPECT_EQ(core.status().notReadyReason(), "Lunch");
    EXPECT_EQ(window.statusText(), "[Not Ready : Lunch]");
}

TEST_F(CtiLinkTest, NotReadyFromReadyWaitsForTheServersAcknowledgement) {
    loginNotReady();
    goReady();
    buttons.OnBnClickedButtonNotReady();
    EXPECT_EQ(sent("406,"), "406,0^1001");
    EXPECT_EQ(sent("37,"), "37,0^1001");
    ASSERT_TRUE(waitForState(agent::AgentGoingNotReady));  // the acknowledgement's Not-Ready-Event
    ASSERT_TRUE(eventually([&] { return voice.has("dump 0"); }));  // line 1 is hung up
    hangUpLine(0);
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_EQ(core.status().agentState(), "AgentNotReady");
}

TEST_F(CtiLinkTest, RefusedLoginLogsOutAndClosesTheLink) {
    server.configure([](LabCtiOptions& options) {
        options.loginAnswer = LabLoginAnswer::Refuse;
        options.refusalReason = "Agent already logged in";
    });
    startPhone();
    clickLogin();
    ASSERT_TRUE(server.waitForDisconnection(kWait));
    EXPECT_TRUE(tickerShowed("Registration rejected from VelmoraCCS, reason : Agent already logged in"));
    EXPECT_EQ(core.stateMachine().state(), agent::AgentLoggedOut);
    EXPECT_TRUE(log.contains("Registration rejected from VelmoraCCS, reason : Agent already logged in"));
    EXPECT_FALSE(voice.has("register 1001 pw 127.0.0.1:4569"));
    ASSERT_TRUE(log.waitFor("Ticker keeps [Registration rejected from VelmoraCCS, reason : Agent already logged in] "
                            "until another text replaces it",
                            kWait));
    EXPECT_EQ(window.ticker().text, "Registration rejected from VelmoraCCS, reason : Agent already logged in");
}

TEST_F(CtiLinkTest, NoSwitchLogsOutWithoutRegistering) {
    server.configure([](LabCtiOptions& options) { options.switchInfo->host = ""; });
    startPhone();
    clickLogin();
    ASSERT_TRUE(server.waitForDisconnection(kWait));
    EXPECT_TRUE(eventually([&] { return log.contains("No Asterisk switch received "); }));
    EXPECT_TRUE(eventually([&] { return core.stateMachine().state() == agent::AgentLoggedOut; }));
    EXPECT_EQ(window.statusText(), "[Logged Out]");
}

TEST_F(CtiLinkTest, LogoutIsAcknowledgedAndUnregistersFromTheSwitch) {
    loginNotReady();
    buttons.OnBnClickedButtonLogout();
    EXPECT_EQ(sent("35,"), "35,^1001^USER_REQUEST_LOGOUT");
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    EXPECT_TRUE(voice.has("unregister 1001 pw 127.0.0.1:4569"));
    EXPECT_TRUE(window.control(Control::Login).visible);
    EXPECT_TRUE(window.control(Control::Login).enabled);
    EXPECT_FALSE(window.control(Control::Logout).visible);
    ASSERT_TRUE(server.waitForDisconnection(kWait));
}

TEST_F(CtiLinkTest, ServerGoneLogsTheAgentOutWithoutHangingUp) {
    loginNotReady();
    server.dropConnection();
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    EXPECT_TRUE(tickerShowed("Communication Error!! Please try again"));
    EXPECT_TRUE(log.contains("CImplementation::doUnconditionalAgentLogout()"));
    EXPECT_FALSE(voice.has("dump all"));
}

TEST_F(CtiLinkTest, SilentServerIsDroppedAfterSixUnansweredHeartbeats) {
    loginNotReady();
    server.clearReceived();
    server.setSilent(true);
    ASSERT_TRUE(server.waitForCount([](const std::string& m) { return m == "58"; }, 6, kWait));
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    EXPECT_TRUE(log.contains("Unable to communicate with the CTI Server"));
    EXPECT_TRUE(log.contains("heartBeatSender select() timeout. heartBeatTimeOutCounter:[5]."));
    EXPECT_EQ(server.receivedTexts().size(), 6u);
}

TEST_F(CtiLinkTest, AnsweredHeartbeatsKeepAnIdleLinkOpen) {
    loginNotReady();
    server.clearReceived();
    ASSERT_TRUE(server.waitForCount([](const std::string& m) { return m == "58"; }, 10, kWait));
    EXPECT_EQ(core.stateMachine().state(), agent::AgentNotReady);
    EXPECT_EQ(core.ctiConnection().heartBeatTimeOutCounter() <= 1, true);
}

TEST_F(CtiLinkTest, MessagesSplitAndJoinedAreEachHandledOnce) {
    loginNotReady();
    server.pushBytes("<MSG_TYPE_CTI_DATETIME><Year>2026</Year><Mon");
    std::this_thread::sleep_for(30ms);
    server.pushBytes("th>12</Month></MSG_TYPE_CTI_DATETIME>~<MSG_TYPE_GET_VELMORA_TRACKNUM><Tracknum>T7</Tracknum>"
                     "<Channel>1</Channel></MSG_TYPE_GET_VELMORA_TRACKNUM>~58~");
    ASSERT_TRUE(eventually([&] { return voice.iaxc_get_call_tag(1).value_or("") == "T7"; }));
    EXPECT_EQ(core.call().snapshot().callDateTime, "2026.12....");
    EXPECT_EQ(log.count("Received a new tracknum[T7] for line[1]"), 1);
}

TEST_F(CtiLinkTest, BadInputIsLoggedAndSurvived) {
    loginNotReady();
    server.pushGarbage();
    server.push("<MSG_TYPE_NOBODY_KNOWS><A>1</A></MSG_TYPE_NOBODY_KNOWS>");
    server.push("<MSG_TYPE_SET_MSG_CENTER_INFO><Type>ALERT</Type></MSG_TYPE_SET_MSG_CENTER_INFO>");
    ASSERT_TRUE(eventually([&] { return log.contains("handleMessageCenterData - Message empty"); }));
    EXPECT_TRUE(log.contains("Unknown message received, dont't know what to do with[<MSG_TYPE_NOBODY_KNOWS><A>1</A>"
                             "</MSG_TYPE_NOBODY_KNOWS>]"));
    EXPECT_EQ(core.stateMachine().state(), agent::AgentNotReady);

    server.pushUnterminated(2'000'000);  // never ends its message: the link is cut
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    EXPECT_TRUE(tickerShowed("Communication Error!! Please try again"));
}

TEST_F(CtiLinkTest, CleanCloseLogsOutWithTheClosingReasonAndEndsTheWindow) {
    loginNotReady();
    buttons.OnBnClickedButtonClose();
    EXPECT_EQ(sent("35,"), "35,^1001^USER_REQUEST_CLOSE");
    ASSERT_TRUE(eventually([&] { return window.closed(); }));
    EXPECT_TRUE(core.isClosing());
    EXPECT_TRUE(log.contains("Finish close"));
    EXPECT_TRUE(window.windowClosing());
    EXPECT_FALSE(window.control(Control::Ready).enabled);
}

TEST_F(CtiLinkTest, UnreachableServerIsTriedTenTimesThenGivenUp) {
    server.stop();
    startPhone();
    clickLogin();
    EXPECT_TRUE(tickerShowed("VelmoraCCS unavailable, try again later"));
    EXPECT_TRUE(log.contains("VelmoraCCS Server unavailable, tried 10 times"));
    EXPECT_EQ(log.count("Can't connect to VelmoraCCS"), 10);
    EXPECT_EQ(core.stateMachine().state(), agent::AgentLoggedOut);
    // The headless phone reads its exit reason from the ticker: the idle clearing must not take it.
    ASSERT_TRUE(log.waitFor("Ticker keeps [VelmoraCCS unavailable, try again later] until another text replaces it",
                            kWait));
    EXPECT_EQ(window.ticker().text, "VelmoraCCS unavailable, try again later");
}

TEST_F(CtiLinkTest, NotReadyIsSentAgainAfterTheLinkDroppedWithAnUnansweredNotReady) {
    loginNotReady();
    goReady();
    server.configure([](LabCtiOptions& options) { options.notReadyAck = LabNotReadyAck::Never; });
    buttons.OnBnClickedButtonNotReady();
    EXPECT_EQ(sent("37,"), "37,0^1001");  // never acknowledged
    server.dropConnection();
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    hangUpLine(0);

    server.configure([](LabCtiOptions& options) { options.notReadyAck = LabNotReadyAck::AfterFirst; });
    clickLogin();
    ASSERT_TRUE(waitForState(agent::AgentLoggingInWhithNotReady));
    voice.emitResult(VoiceEvent::RegistrationAccepted, "Registration accepted");
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    goReady();
    buttons.OnBnClickedButtonNotReady();
    EXPECT_EQ(sent("37,"), "37,0^1001");
    ASSERT_TRUE(waitForState(agent::AgentGoingNotReady));
}

TEST_F(CtiLinkTest, TheSwitchsIaxPasswordNeverReachesTheLog) {
    server.configure([](LabCtiOptions& options) { options.switchInfo->iaxPassword = "Iax-S3cret"; });
    loginNotReady();
    server.push("<MSG_TYPE_GET_SWITCH><IaxPassword>Iax-S3cret</IaxPassword>");  // never closed
    server.push("<MSG_TYPE_NOBODY_KNOWS><IaxPassword>Iax-S3cret</IaxPassword></MSG_TYPE_NOBODY_KNOWS>");
    ASSERT_TRUE(log.waitFor("Unknown message received, dont't know what to do with[<MSG_TYPE_NOBODY_KNOWS>"
                            "<IaxPassword>****</IaxPassword></MSG_TYPE_NOBODY_KNOWS>]",
                            kWait));
    EXPECT_TRUE(log.contains(
        "CTIConnection::processInfo() - Invalid XML message received[<MSG_TYPE_GET_SWITCH><IaxPassword>****</IaxPassword>]"));
    for (const std::string& line : log.lines()) {
        if (LogCapture::messageOf(line).rfind("Lab", 0) == 0) continue;  // the lab server logs its own
        EXPECT_EQ(line.find("Iax-S3cret"), std::string::npos) << line;
    }
}

TEST_F(CtiLinkTest, ABurstOfHeartbeatAnswersIsLoggedOnceNotOncePerMessage) {
    loginNotReady();
    std::string burst;
    for (int i = 0; i < 2000; ++i) burst += "58~";
    log.clear();
    server.pushBytes(burst);
    server.push(labcti::velmoraTracknum("T9", "2"));
    ASSERT_TRUE(eventually([&] { return voice.iaxc_get_call_tag(2).value_or("") == "T9"; }));
    EXPECT_LT(phoneLogBytes(), 4 * burst.size());
    EXPECT_EQ(core.stateMachine().state(), agent::AgentNotReady);
}

TEST_F(CtiLinkTest, ALostLinkReleasesTheIdleAgentChannelAndUnregisters) {
    loginNotReady();
    goReady();
    voice.clearOperations();
    server.dropConnection();
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    EXPECT_TRUE(eventually([&] { return voice.has("dump 0"); }));
    EXPECT_TRUE(eventually([&] { return voice.has("unregister 1001 pw 127.0.0.1:4569"); }));
    EXPECT_EQ(core.status().agentState(), "AgentLoggedOut");
    EXPECT_EQ(window.statusText(), "[Logged Out]");
}

TEST_F(CtiLinkTest, ALostLinkKeepsTheCustomersCallOn) {
    loginNotReady();
    goReady();
    server.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    voice.clearOperations();
    server.dropConnection();
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));  // the logout's actions have all run
    EXPECT_EQ(core.status().agentState(), "AgentLoggedOut");
    for (const std::string& operation : voice.operations()) {
        EXPECT_EQ(operation.rfind("dump", 0), std::string::npos) << operation;
        EXPECT_EQ(operation.rfind("unregister", 0), std::string::npos) << operation;
    }
}

TEST_F(CtiLinkTest, WithoutAudioDevicesTheLoginStopsBeforeRegisteringAndSaysWhy) {
    voice.initializeResult = -1;
    startPhone();
    EXPECT_TRUE(tickerShowed("Audio device error."));
    clickLogin();
    EXPECT_EQ(sent("34,").rfind("34,0^1001^pw^", 0), 0u);  // the CTI login goes ahead
    ASSERT_TRUE(log.waitFor("Successfully logged in with CTI, trying to register with switch", kWait));
    ASSERT_TRUE(server.waitForDisconnection(kWait));
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    ASSERT_TRUE(log.waitFor("Ticker keeps [Audio device error.] until another text replaces it", kWait));
    EXPECT_EQ(window.ticker().text, "Audio device error.") << "the cause stays on the ticker";
    EXPECT_EQ(core.status().agentState(), "AgentLoggedOut");
    for (const std::string& operation : voice.operations())
        EXPECT_EQ(operation.rfind("register", 0), std::string::npos) << operation;
}
