#include "PhoneFixture.h"

#include "lab/applet/LabAppletClient.h"
#include "lab/applet/LabAppletRequests.h"

namespace {

// A logged-in agent whose web applet is connected to the phone's local listener.
class AppletTest : public PhoneFixture {
protected:
    void connectApplet() {
        ASSERT_TRUE(eventually([&] { return core.clientListener().port() != 0; }));
        applet.emplace(LabAppletOptions{static_cast<std::uint16_t>(core.clientListener().port()), true,
                                        intervals::kLabAppletHeartbeat});
        ASSERT_TRUE(applet->connect());
        ASSERT_TRUE(applet->waitForReply("58", kWait));
        ASSERT_TRUE(eventually([&] { return core.clientListener().clientConnected(); }));
        applet->clearReplies();
    }
    std::string reply(const std::string& prefix) { return applet->waitForReply(prefix, kWait).value_or("<nothing>"); }
    LabAppletOptions options(bool greet) {
        return {static_cast<std::uint16_t>(core.clientListener().port()), greet, intervals::kLabAppletHeartbeat};
    }

    std::optional<LabAppletClient> applet;
};

}  // namespace

TEST_F(AppletTest, GreetingAndHeartbeatAreAnsweredAndTwoRequestsInOneReceiveBothRun) {
    loginNotReady();
    connectApplet();
    applet->sendBytes("58~" + labapplet::forceHangup() + "~" + labapplet::forceReady() + "~");
    EXPECT_EQ(reply("58"), "58");
    EXPECT_EQ(reply("10,"), "10,Wrong state... agent state = AgentNotReady");
    EXPECT_EQ(reply("3,"), "3,Force Ready done!");
    ASSERT_TRUE(waitForState(agent::AgentGoingReadyInProgress));
}

TEST_F(AppletTest, ForceReadyIsRefusedOutsideNotReady) {
    loginNotReady();
    goReady();
    connectApplet();
    applet->send(labapplet::forceReady());
    EXPECT_EQ(reply("3,"), "3,Wrong state... agent state = AgentReady");
}

TEST_F(AppletTest, RemoteDialFromNotReadyWaitsForTheTrackNumberAndDialsOnLineOne) {
    loginNotReady();
    connectApplet();
    peerAnswerWaitsLongEnough();  // the track number must come within the wait
    server.clearReceived();
    applet->send(labapplet::dial("0612", "T5"));
    EXPECT_EQ(sent("99,"), "99,0^1001");
    EXPECT_EQ(sent("131,"), "131,^1001^0^9001");
    EXPECT_EQ(sent("64,"), "64,0^1001");
    ASSERT_TRUE(eventually([&] { return voice.has("call 1001@127.0.0.1:4569/MCALL0612^T5"); }));
    EXPECT_EQ(window.dialPadRequests(), 0);  // the acknowledgement of a remote dial opens no dial pad
    EXPECT_TRUE(tickerShowed("Remote dial [0612]"));
    ASSERT_TRUE(waitForState(agent::AgentNotReadyDialing));

    answerLine(0);
    ASSERT_TRUE(waitForState(agent::AgentNotReadyInCall));
    EXPECT_EQ(reply("1,"), "1,0612^T5^SUCCESS");
    EXPECT_EQ(sent("65,"), "65,0612^1001^9001");
}

TEST_F(AppletTest, RemoteDialWhileReadyUsesLineTwo) {
    loginNotReady();
    goReady();
    connectApplet();
    peerAnswerWaitsLongEnough();  // the track number must come within the wait
    applet->send(labapplet::dial("0613", "T6"));
    ASSERT_TRUE(eventually([&] { return voice.has("call 1001@127.0.0.1:4569/MCALL0613^T6"); }));
    EXPECT_TRUE(voice.has("select 1"));
    ASSERT_TRUE(waitForState(agent::AgentReadyDialing));
    answerLine(1);
    ASSERT_TRUE(waitForState(agent::AgentReadyManualInCall));
    EXPECT_EQ(reply("1,"), "1,0613^T6^SUCCESS");
}

TEST_F(AppletTest, RemoteDialInACallIsAWrongStateAndBadNumbersAreRefused) {
    loginNotReady();
    goReady();
    server.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    connectApplet();
    applet->send(labapplet::dial("0612"));
    EXPECT_EQ(reply("1,"), "1,0612^0^WRONG_STATE");
    EXPECT_TRUE(tickerShowed("Must be in [Not Ready] or [Ready] mode to receive event"));

    applet->send(labapplet::dial(""));
    applet->send(labapplet::dial(std::string(300, '5'), "T9"));
    EXPECT_EQ(reply("1,5"), "1," + std::string(100, '5') + "^T9^FAILED");
    applet->send("<RM_MSG_TYPE_DIAL><Number>1</Number>");  // never closed
    ASSERT_TRUE(eventually([&] { return log.contains("handleOutsideDial : Number too long [300 characters]"); }));
    EXPECT_TRUE(log.contains("handleOutsideDial : No Number received"));
    EXPECT_TRUE(eventually(
        [&] { return log.contains("ClientListener::processInfo() - Invalid XML message received[<RM_MSG_TYPE_DIAL><Number>1</Number>]"); }));
}

TEST_F(AppletTest, TitleChangesReportTheSubmitStatus) {
    loginNotReady();
    goReady();
    server.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    connectApplet();
    applet->send(labapplet::titleChange("Form - submit:required"));
    ASSERT_TRUE(waitForState(agent::AgentReadySubmitReqInCall));
    EXPECT_TRUE(core.call().snapshot().submitPending);

    applet->send(labapplet::titleChange("ClientA-CampaignB-OK.submit:sent"));
    ASSERT_TRUE(eventually([&] { return core.call().snapshot().tags.tagged; }));
    EXPECT_EQ(core.call().snapshot().tags.client, "ClientA");
    EXPECT_EQ(core.call().snapshot().tags.campaign, "CampaignB");
    EXPECT_EQ(core.call().snapshot().tags.status, "OK");
    EXPECT_EQ(core.lines().agentMode(), 3);

    applet->send(labapplet::titleChange("x.submit:sent"));
    ASSERT_TRUE(eventually([&] { return log.contains("New title not conform to client-campaign-status.submit:sent"); }));
    EXPECT_FALSE(core.call().snapshot().tags.tagged);
    applet->send(labapplet::titleChange(""));
    EXPECT_TRUE(eventually([&] { return log.contains("handleTitleChange : No URL received"); }));
}

TEST_F(AppletTest, ForceHangUpEndsTheCallAndWrapUpIsAnnouncedThenTimesOutToReady) {
    loginNotReady();
    goReady();
    connectApplet();
    server.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    server.clearReceived();
    applet->send(labapplet::forceHangup());
    EXPECT_EQ(reply("10,"), "10,Force hang up done ");
    EXPECT_EQ(sent("405,"), "405,0^1001");
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_EQ(sent("37,"), "37,T1^1001");
    EXPECT_EQ(reply("4,"), "4,WRAP_UP_NOTIFICATION");
    // Wrap-up of 10 s (100 ms here) with READY after the time-out: the agent goes ready again.
    ASSERT_TRUE(waitForState(agent::AgentGoingReadyInProgress));
    EXPECT_TRUE(log.contains(
        "WrapUpChecker::checkerThread() - Time out reached and agent was in Wrap Up, going into READY mode [10]"));
}

TEST_F(AppletTest, AChosenNotReadyReasonSuppressesTheWrapUpNotification) {
    loginNotReady();
    connectApplet();
    buttons.OnNotReadyReasonChosen(AgentButtons::kFirstReasonCommand);  // Break
    ASSERT_TRUE(eventually([&] { return core.status().notReadyReason() == "Break"; }));
    core.SetInWrapUp();
    EXPECT_FALSE(core.wrapUpChecker().inWrapUp());
    // Replies come in order: once a later request is answered, a notification would have come first.
    applet->send(labapplet::forceHangup());
    EXPECT_EQ(reply("10,"), "10,Wrong state... agent state = AgentNotReady");
    for (const std::string& text : applet->replyTexts()) EXPECT_NE(text.rfind("4,", 0), 0u) << text;
}

TEST_F(AppletTest, ASilentClientIsDroppedAndTheNextOneIsServed) {
    loginNotReady();
    connectApplet();
    applet->setSilent(true);
    ASSERT_TRUE(applet->waitForDisconnection(kWait));  // 30 s of silence, 300 ms here
    EXPECT_TRUE(log.contains(
        "ClientListener::clientHandler - No Heartbeat received from Client...assuming that client is dead"));
    LabAppletClient next({static_cast<std::uint16_t>(core.clientListener().port()), true,
                          intervals::kLabAppletHeartbeat});
    ASSERT_TRUE(next.connect());
    EXPECT_TRUE(next.waitForReply("58", kWait));
}

TEST_F(AppletTest, AFloodWithoutTerminatorIsCutOffAndTheListenerGoesOn) {
    loginNotReady();
    connectApplet();
    applet->sendFlood(2'000'000);
    ASSERT_TRUE(applet->waitForDisconnection(kWait));
    EXPECT_EQ(core.stateMachine().state(), agent::AgentNotReady);
    LabAppletClient next({static_cast<std::uint16_t>(core.clientListener().port()), true,
                          intervals::kLabAppletHeartbeat});
    ASSERT_TRUE(next.connect());
    EXPECT_TRUE(next.waitForReply("58", kWait));
}

TEST_F(AppletTest, ARemoteDialTheEngineCannotPlaceIsAnsweredFailed) {
    loginNotReady();
    connectApplet();
    peerAnswerWaitsLongEnough();  // the track number must come within the wait
    voice.answerCallsWith(-1);
    applet->send(labapplet::dial("0612", "T5"));
    EXPECT_EQ(reply("1,"), "1,0612^T5^FAILED");
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_TRUE(tickerShowed("Dial failed !"));
}

TEST_F(AppletTest, StoppingTheListenerDuringARemoteDialDoesNotWaitForTheTrackNumber) {
    server.configure([](LabCtiOptions& options) { options.acknowledgePersonalDial = false; });
    loginNotReady();
    connectApplet();
    timeScale.set(1.0);  // the dial waits nine real seconds for a track number that never comes
    applet->send(labapplet::dial("0612", "T5"));
    ASSERT_TRUE(log.waitFor("ClientListener::handleOutsideDial - sleeping for tracknum block AgentNotReady", kWait));
    const auto before = std::chrono::steady_clock::now();
    core.StopListeningForClient();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    EXPECT_TRUE(applet->waitForDisconnection(kWait));
    for (const std::string& operation : voice.operations()) EXPECT_NE(operation.rfind("call ", 0), 0u) << operation;
}

TEST_F(AppletTest, ABurstOfHeartbeatsIsLoggedOnceNotOncePerMessage) {
    loginNotReady();
    connectApplet();
    std::string burst;
    for (int i = 0; i < 2000; ++i) burst += "58~";
    log.clear();
    applet->sendBytes(burst);
    ASSERT_TRUE(applet->waitForReplyCount([](const std::string& text) { return text == "58"; }, 2000, kWait));
    // One "Sent" line per answer, the received bytes once.
    EXPECT_LT(phoneLogBytes(), 50 * burst.size());
}

TEST_F(AppletTest, ASilentConnectionDoesNotKeepTheAgentsAppletOut) {
    loginNotReady();
    ASSERT_TRUE(eventually([&] { return core.clientListener().port() != 0; }));
    timeScale.set(0.5);  // a second to greet, fifteen of silence before a client is dropped
    LabAppletClient squatter(options(false));
    squatter.setSilent(true);
    ASSERT_TRUE(squatter.connect());
    ASSERT_TRUE(eventually([&] { return core.clientListener().clientConnected(); }));
    LabAppletClient agentsApplet(options(true));
    ASSERT_TRUE(agentsApplet.connect());
    EXPECT_TRUE(agentsApplet.waitForReply("58", 8s));
    EXPECT_TRUE(squatter.waitForDisconnection(kWait));
    EXPECT_EQ(log.levelOf("ClientListener::clientHandler - No greeting received from Client...dropping it"), "WARNING");
}
