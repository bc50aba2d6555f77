#include "PhoneFixture.h"

#include <future>

namespace {

using Click = HeadlessAgentWindow::ConferenceClick;

// Calls on the agent's lines with the voice engine scripted: what the switch would report is
// played through the engine's callback.
class CallsTest : public PhoneFixture {
protected:
    // The Conference button, with the dial window's answer ready; it runs on a thread of its
    // own, as the window's modal dialogs would, while the test plays the switch and the server.
    std::future<void> startConference(const DialWindowResult& choice) {
        window.answerDialWindow(choice);
        return std::async(std::launch::async, [this] { core.OnBnClickedButtonConference(); });
    }
    void distributeCall(const std::string& trackNumber = "T1", const std::string& url = "") {
        server.push(labcti::queueDistribute({trackNumber, "2026.12.08.10.00.00", "555", url, std::nullopt, {}}));
        ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    }
    std::vector<std::string> sentWith(const std::string& prefix) {
        std::vector<std::string> texts;
        for (const std::string& text : server.receivedTexts())
            if (text.rfind(prefix, 0) == 0) texts.push_back(text);
        return texts;
    }
};

}  // namespace

TEST_F(CallsTest, AWorkingDayFromLoginThroughACallBackToNotReady) {
    loginNotReady();
    goReady();
    EXPECT_EQ(sent("36,"), "36,0^1001");

    distributeCall("T1", "http://crm/popup?case=7");
    EXPECT_TRUE(eventually([&] { return browser.pages() == std::vector<std::string>{"http://crm/popup?case=7&AGENT_ID=1001"}; }));
    EXPECT_EQ(window.statusText(), "[In Call]");
    EXPECT_TRUE(window.control(Control::HangUp).enabled);
    EXPECT_TRUE(window.control(Control::Transfer).enabled);
    EXPECT_TRUE(window.control(Control::AttachedData).visible);
    EXPECT_EQ(core.call().snapshot().ani, "555");
    EXPECT_EQ(voice.iaxc_get_call_tag(0).value(), "T1");
    EXPECT_EQ(core.call().snapshot().callDateTime, "2026.12.08.10.00.00");  // so no date-time request is needed
    ASSERT_TRUE(eventually([&] { return !window.callTimer().empty(); }));

    core.OnBnClickedButtonUnHold();  // put on hold
    EXPECT_EQ(sent("100,"), "100,0^1001^T1");
    EXPECT_TRUE(voice.has("quelch 0 1"));
    core.OnBnClickedButtonHold();  // take off hold
    EXPECT_EQ(sent("101,"), "101,0^1001^T1");

    server.clearReceived();
    buttons.OnBnClickedButtonHangup();
    EXPECT_EQ(sent("405,"), "405,0^1001");
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_EQ(sent("37,"), "37,T1^1001");
    EXPECT_TRUE(eventually([&] { return voice.has("dump all"); }));
    EXPECT_TRUE(core.wrapUpChecker().inWrapUp());
    EXPECT_EQ(core.status().agentState(), "AgentNotReady");
    EXPECT_FALSE(window.control(Control::HangUp).enabled);
}

TEST_F(CallsTest, ManualDialFromNotReadyAsksThePermissionThenDialsTheNumber) {
    loginNotReady();
    server.clearReceived();
    buttons.OnBnClickedButtonDial();
    EXPECT_EQ(sent("99,"), "99,0^1001");
    ASSERT_TRUE(eventually([&] { return window.dialPadRequests() == 1; }));  // the acknowledgement opens it
    window.answerDialWindow({true, " 0612 ", 0});
    buttons.showDialPad();
    ASSERT_TRUE(eventually([&] { return voice.has("call 1001@127.0.0.1:4569/MCALL0612^9001"); }));
    EXPECT_EQ(sent("64,"), "64,0^1001");
    ASSERT_TRUE(waitForState(agent::AgentNotReadyDialing));
    EXPECT_EQ(core.storedSettings().dialList.get(), std::vector<std::string>{"0612"});
    answerLine(0);
    ASSERT_TRUE(waitForState(agent::AgentNotReadyInCall));
    EXPECT_EQ(sent("65,"), "65,0612^1001^9001");
    EXPECT_EQ(core.lines().callType(), "OUTBOUND");
}

TEST_F(CallsTest, ManualDialFromReadyGoesOutOnTheSecondLine) {
    loginNotReady();
    goReady();
    buttons.OnBnClickedButtonDial();
    ASSERT_TRUE(eventually([&] { return window.dialPadRequests() == 1; }));
    window.answerDialWindow({true, "0613", 0});
    buttons.showDialPad();
    ASSERT_TRUE(waitForState(agent::AgentReadyDialing));
    EXPECT_EQ(voice.iaxc_selected_call(), 1);
    answerLine(1);
    ASSERT_TRUE(waitForState(agent::AgentReadyManualInCall));
    EXPECT_EQ(core.lines().callType(), "READYOUTBOUND");
    EXPECT_TRUE(core.lines().threeLineMode());
}

TEST_F(CallsTest, PreviewDialGoesOnLineOneOrOnLineTwoWhenLineOneIsUp) {
    loginNotReady();
    goReady();
    server.push(labcti::dialPreview({"http://crm/preview", "0699", "R1", "TBL", "Camp", "ACME", "0800", "T3"}));
    ASSERT_TRUE(waitForState(agent::AgentPreview));
    EXPECT_TRUE(eventually([&] { return browser.has("navigate http://crm/preview?ANI=0699&AGENT_ID=1001&RECORD_ID=R1"); }));
    EXPECT_EQ(window.previewDialRequests(), 1);
    EXPECT_TRUE(eventually([&] { return voice.has("dump 0"); }));  // the agent channel is released

    hangUpLine(0);
    window.answerDialWindow({true, "", 0});
    buttons.showPreviewDial();
    ASSERT_TRUE(eventually([&] { return voice.has("call 1001@127.0.0.1:4569/0699"); }));
    EXPECT_TRUE(voice.has("callerid [ACME] [0800]"));
    EXPECT_TRUE(log.contains("CImplementation::dialPreview(): FIRST_LINE selected on DIAL"));

    core.lines().setLineStatusUp(0);
    core.dialPreview("0700");
    EXPECT_TRUE(log.contains("CImplementation::dialPreview(): SECOND_LINE selected in DIAL"));
}

TEST_F(CallsTest, TransferToAPhoneNumberCarriesTheCallPrefix) {
    server.configure([](LabCtiOptions& options) {
        options.group->addPrefixToCall = "1";
        options.group->callPrefix = "9";
    });
    loginNotReady();
    goReady();
    distributeCall();
    window.answerDialWindow({true, "0612", 3});
    core.OnBnClickedButtonTransfer();
    EXPECT_EQ(sent("411,"), "411,1001^T1");
    EXPECT_EQ(sent("412,"), "412,1001^T1^90612^PHONE_NUMBER");
    ASSERT_TRUE(waitForState(agent::AgentReadyTransfering));
}

TEST_F(CallsTest, CancelledTransferKeepsTheHoldTheButtonShows) {
    loginNotReady();
    goReady();
    distributeCall();
    window.answerDialWindow({false, "", 0});
    core.OnBnClickedButtonTransfer();
    EXPECT_EQ(sent("413,"), "413,1001^T1");
    EXPECT_EQ(sent("101,"), "101,0^1001^T1");  // the customer is taken off the transfer's hold
    EXPECT_FALSE(core.lines().onHold());
    EXPECT_EQ(core.stateMachine().state(), agent::AgentReadyInCall);
}

TEST_F(CallsTest, ConferenceByPhoneNumberCompletesWithTheConsultationsTrackNumber) {
    loginNotReady();
    goReady();
    distributeCall();
    auto conference = startConference({true, "0614", 0});
    ASSERT_TRUE(eventually([&] { return window.control(Control::CompleteConference).exists; }));
    EXPECT_TRUE(voice.has("call 1001@127.0.0.1:4569/0614"));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCallInitiatingConferenceInProgress));
    voice.iaxc_set_call_tag(1, "T2");
    answerLine(1);
    ASSERT_TRUE(waitForState(agent::AgentReadyInCallCompletingConference));
    window.clickConferenceButton(Click::Complete);
    conference.get();
    EXPECT_EQ(sent("78,"), "78,1001^0614^T1^T2");
    ASSERT_TRUE(waitForState(agent::AgentReadyInConference));
}

TEST_F(CallsTest, ConsultationOfAnAgentIsCancelledWithTheCancelMessage) {
    loginNotReady();
    goReady();
    distributeCall();
    peerAnswerWaitsLongEnough();  // the consult answer must come within the wait
    auto conference = startConference({true, "2002", 1});
    EXPECT_EQ(sent("324,"),
              "324,<MSG_TYPE_CONSULT_CALL_REQUEST><REQUEST_DATA>2002</REQUEST_DATA><TRACKNUM>T1</TRACKNUM>"
              "<REQUESTING_AGENT_ID>1001</REQUESTING_AGENT_ID><REQUEST_TYPE>AGENT</REQUEST_TYPE>"
              "</MSG_TYPE_CONSULT_CALL_REQUEST>");
    ASSERT_TRUE(eventually([&] { return log.contains("Consult Call Confirmation - Response[success] Reason[]"); }));
    ASSERT_TRUE(eventually([&] { return window.control(Control::CompleteConference).exists; }));
    EXPECT_TRUE(voice.has("call 1001@127.0.0.1:4569/AGTCALL1001"));
    answerLine(1);
    window.clickConferenceButton(Click::Cancel);
    conference.get();
    EXPECT_EQ(sent("325,"), "325,<MSG_TYPE_CONSULT_CALL_CANCELED><TRACKNUM>T1</TRACKNUM><AGENT_ID>1001</AGENT_ID>"
                            "</MSG_TYPE_CONSULT_CALL_CANCELED>");
    EXPECT_EQ(core.call().snapshot().dialDestination, "AGTDIST2002");
}

TEST_F(CallsTest, UnansweredConsultationRequestReturnsToTheCustomerAfterTwoSeconds) {
    server.configure([](LabCtiOptions& options) { options.consultAnswer = LabConsultAnswer::Ignore; });
    loginNotReady();
    goReady();
    distributeCall();
    auto conference = startConference({true, "2002", 2});
    ASSERT_TRUE(eventually([&] { return window.control(Control::CompleteConference).exists; }));
    EXPECT_EQ(sent("101,"), "101,0^1001^T1");  // back to the customer, off hold
    EXPECT_TRUE(voice.has("call 1001@127.0.0.1:4569/AGTCALL1001"));
    window.clickConferenceButton(Click::Cancel);
    conference.get();
}

TEST_F(CallsTest, AgentChannelNeverAnsweredRetriesThenStaysNotReady) {
    server.configure([](LabCtiOptions& options) { options.loginSettings.wrapUp = {"READY", "0", "1"}; });
    loginNotReady();
    server.clearReceived();
    buttons.OnBnClickedButtonReady();
    // Three retries through the wrap-up time-out (READY after 0 s), the fourth failure stays.
    ASSERT_TRUE(eventually([&] { return log.count("doAgentReadyThread(): Timeout on Asterisk dial, going back to not ready") == 4; },
                           20s));
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_TRUE(log.contains("doAgentReadyThread(): maximum Ready attemps  reached [3] will now stay not ready"));
    EXPECT_EQ(log.count("FSM: Begin. State:[Agent-Going-Ready-In-Progress]. Event:[First-Line-Timeout-Event]."), 4);
    EXPECT_TRUE(eventually([&] { return voice.count("dump 0") >= 4; }));  // each unanswered channel released
    EXPECT_GE(sentWith("37,").size(), 1u);  // not ready reported, again after each acknowledgement
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(core.stateMachine().state(), agent::AgentNotReady);
}

TEST_F(CallsTest, RejectedRegistrationStopsTheLoginWithATickerText) {
    startPhone();
    clickLogin();
    ASSERT_TRUE(waitForState(agent::AgentLoggingInWhithNotReady));
    ASSERT_TRUE(eventually([&] { return voice.has("register 1001 pw 127.0.0.1:4569"); }));
    voice.emitResult(VoiceEvent::RegistrationRejected, "Registration rejected");
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    EXPECT_TRUE(tickerShowed("Registration rejected from switch !"));
    EXPECT_TRUE(voice.has("stop processing"));
    ASSERT_TRUE(server.waitForDisconnection(kWait));
}

TEST_F(CallsTest, TerminateCallDependsOnWhichLinesAreUp) {
    loginNotReady();
    goReady();
    distributeCall("T1");

    // Line 1 up, line 2 down, agent in a call: not ready, line 1 hung up.
    server.push(labcti::terminateCall("T0"));  // another call: ignored
    server.push(labcti::terminateCall("T1"));
    server.push(labcti::terminateCall("T1"));  // the same one twice: ignored
    ASSERT_TRUE(eventually([&] { return log.contains("CImplementation::ReceivedTerminateCall() 1 up , 2 down"); }));
    EXPECT_TRUE(log.contains("Incorrect TrackNumber !!!"));
    EXPECT_TRUE(eventually([&] { return log.contains("Already received the good Terminate Call !!!"); }));
    EXPECT_EQ(voice.iaxc_get_call_tag(0).value(), "");
    ASSERT_TRUE(eventually([&] { return voice.has("dump 0"); }));
    ASSERT_TRUE(waitForState(agent::AgentNotReady));

    // Both lines down: not ready as well.
    hangUpLine(0);
    server.push(labcti::queueDistribute({"T4", "", "556", "", std::nullopt, {}}));
    ASSERT_TRUE(eventually([&] { return core.call().snapshot().trackNumber == "T4"; }));
    server.push(labcti::terminateCall("T4"));
    ASSERT_TRUE(eventually([&] { return log.contains("CImplementation::ReceivedTerminateCall() 1 down , 2 down"); }));

    // Line 1 down, line 2 up: line 2 selected, not ready queued.
    core.lines().setLineStatusUp(1);
    server.push(labcti::queueDistribute({"T5", "", "557", "", std::nullopt, {}}));
    ASSERT_TRUE(eventually([&] { return core.call().snapshot().trackNumber == "T5"; }));
    server.push(labcti::terminateCall("T5"));
    ASSERT_TRUE(eventually([&] { return log.contains("CImplementation::ReceivedTerminateCall() 1 down , 2 up"); }));

    // Both up: both hung up.
    core.lines().setLineStatusUp(0);
    server.push(labcti::queueDistribute({"T6", "", "558", "", std::nullopt, {}}));
    ASSERT_TRUE(eventually([&] { return core.call().snapshot().trackNumber == "T6"; }));
    server.push(labcti::terminateCall("T6"));
    ASSERT_TRUE(eventually([&] { return log.contains("CImplementation::ReceivedTerminateCall() 1 up , 2 up"); }));
    EXPECT_TRUE(eventually([&] { return voice.count("dump 1") >= 1; }));
}

TEST_F(CallsTest, APreviewAfterATerminatedCallStillTakesItsOwnTerminate) {
    loginNotReady();
    goReady();
    distributeCall("T1");
    server.push(labcti::terminateCall("T1"));
    ASSERT_TRUE(log.waitFor("CImplementation::ReceivedTerminateCall()", kWait));
    hangUpLine(0);
    ASSERT_TRUE(waitForState(agent::AgentNotReady));

    server.push(labcti::dialPreview({"http://crm/preview", "0699", "R1", "TBL", "Camp", "ACME", "0800", "T3"}));
    ASSERT_TRUE(eventually([&] { return core.call().snapshot().trackNumber == "T3"; }));
    server.push(labcti::terminateCall("T3"));
    EXPECT_TRUE(log.waitFor("CImplementation::ReceivedTerminateCall()", kWait, 2));
    EXPECT_FALSE(log.contains("Already received the good Terminate Call !!!"));
}

TEST_F(CallsTest, DialsTheEngineCannotPlaceEndTheDialingAndSaySo) {
    server.configure([](LabCtiOptions& options) { options.loginSettings.wrapUp = {"NOT_READY", "0", "0"}; });
    loginNotReady();
    voice.answerCallsWith(-1);
    buttons.OnBnClickedButtonDial();
    ASSERT_TRUE(eventually([&] { return window.dialPadRequests() == 1; }));
    window.answerDialWindow({true, "0612", 0});
    server.clearReceived();
    buttons.showDialPad();
    EXPECT_EQ(sent("66,"), "66,0^1001^");  // the dialling is cancelled through the table's own hang-up
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_TRUE(tickerShowed("Dial failed !"));
    EXPECT_EQ(log.levelOf("CImplementation::dial(): iaxc_call failed for [1001@127.0.0.1:4569/MCALL0612^9001]"),
              "ERROR");

    // A preview dial that cannot be placed ends as its line going down would: not ready.
    goReady();
    server.push(labcti::dialPreview({"http://crm/preview", "0699", "R1", "TBL", "Camp", "ACME", "0800", "T3"}));
    ASSERT_TRUE(waitForState(agent::AgentPreview));
    hangUpLine(0);
    window.answerDialWindow({true, "", 0});
    buttons.showPreviewDial();
    EXPECT_EQ(sent("37,"), "37,T3^1001");
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
}

TEST_F(CallsTest, AConsultationTheEngineCannotPlaceCancelsTheConference) {
    loginNotReady();
    goReady();
    distributeCall();
    voice.answerCallsWith(-1);
    auto conference = startConference({true, "0614", 0});
    const bool ended = conference.wait_for(kWait) == std::future_status::ready;
    if (!ended) window.clickConferenceButton(Click::Cancel);  // the dialog opened for a call that never was
    conference.get();
    EXPECT_TRUE(ended);
    EXPECT_EQ(sent("101,"), "101,0^1001^T1");  // the customer is taken off hold
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    EXPECT_TRUE(tickerShowed("Dial failed !"));
}

TEST_F(CallsTest, ALateConsultAnswerDoesNotAcceptTheNextConsultation) {
    server.configure([](LabCtiOptions& options) { options.consultAnswerDelay = 3000ms; });  // after the 2 s wait
    loginNotReady();
    goReady();
    distributeCall();
    peerAnswerWaitsLongEnough();
    auto first = startConference({true, "2002", 1});
    ASSERT_TRUE(eventually([&] { return window.control(Control::CompleteConference).exists; }));
    ASSERT_TRUE(log.waitFor("Consult Call Confirmation - Response[success] Reason[]", kWait));  // too late
    window.clickConferenceButton(Click::Cancel);
    first.get();
    EXPECT_FALSE(core.conferenceControl().consultPending());
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));

    server.configure([](LabCtiOptions& options) { options.consultAnswer = LabConsultAnswer::Ignore; });
    server.clearReceived();
    auto second = startConference({true, "2003", 1});
    EXPECT_EQ(sent("101,"), "101,0^1001^T1");  // no answer this time: back to the customer
    ASSERT_TRUE(eventually([&] { return window.control(Control::CompleteConference).exists; }));
    window.clickConferenceButton(Click::Cancel);
    second.get();
}

TEST_F(CallsTest, ACompletedConsultationIsNoLongerPending) {
    loginNotReady();
    goReady();
    distributeCall();
    peerAnswerWaitsLongEnough();
    auto conference = startConference({true, "2002", 1});
    ASSERT_TRUE(eventually([&] { return window.control(Control::CompleteConference).exists; }));
    voice.iaxc_set_call_tag(1, "T2");
    answerLine(1);
    ASSERT_TRUE(waitForState(agent::AgentReadyInCallCompletingConference));
    window.clickConferenceButton(Click::Complete);
    conference.get();
    EXPECT_EQ(sent("78,"), "78,1001^AGTDIST2002^T1^T2");
    EXPECT_FALSE(core.conferenceControl().consultPending());
}
