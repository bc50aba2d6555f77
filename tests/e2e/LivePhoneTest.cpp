#include "LivePhoneFixture.h"

#include <future>

namespace {

using Click = HeadlessAgentWindow::ConferenceClick;

class LivePhoneTest : public LivePhoneFixture {
protected:
    void distributeCall(const std::string& trackNumber) {
        cti.push(labcti::queueDistribute({trackNumber, "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
        ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    }
    void setFarParty(double hertz) {
        switchboard.configure([hertz](LabSwitchOptions& options) { options.farParty = LabAudioSource::tone(hertz); });
    }
};

}  // namespace

TEST_F(LivePhoneTest, AWorkingDayCarriesTheCallsAudioBothWaysAndEndsInWrapUp) {
    loginNotReady();
    EXPECT_TRUE(onWire("REGREQ").find("username=" + kAgent) != std::string::npos);
    const int channel = goReady();
    EXPECT_EQ(sent("36,"), "36,0^" + kAgent);
    EXPECT_EQ(switchboard.call(channel)->user, kAgent);

    distributeCall("T1");
    EXPECT_TRUE(labtone::present(audioAfter(channel, 1500ms), kAgentHertz, kCustomerHertz))
        << "the customer does not hear the agent";
    EXPECT_TRUE(eventually([&] { return labtone::present(speakerTail(0.5), kCustomerHertz, kAgentHertz); }))
        << "the agent does not hear the customer";

    core->OnBnClickedButtonUnHold();  // put on hold
    EXPECT_EQ(sent("100,"), "100,0^" + kAgent + "^T1");
    EXPECT_EQ(onWire("QUELCH"), "QUELCH moh");
    ASSERT_TRUE(eventually([&] { return switchboard.call(channel)->musicOnHold; }));
    std::this_thread::sleep_for(600ms);
    EXPECT_FALSE(labtone::present(speakerTail(0.3), kCustomerHertz, kAgentHertz)) << "the held customer is still heard";
    core->OnBnClickedButtonHold();  // take off hold
    EXPECT_EQ(sent("101,"), "101,0^" + kAgent + "^T1");
    EXPECT_EQ(onWire("UNQUELCH"), "UNQUELCH");
    EXPECT_TRUE(eventually([&] { return labtone::present(speakerTail(0.3), kCustomerHertz, kAgentHertz); }));

    switchboard.clearFrames();
    buttons->OnBnClickedButtonHangup();
    EXPECT_EQ(sent("405,"), "405,0^" + kAgent);
    EXPECT_EQ(onWire("HANGUP").rfind("HANGUP cause=Dumped Call", 0), 0u);
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_EQ(sent("37,"), "37,T1^" + kAgent);
    EXPECT_TRUE(core->wrapUpChecker().inWrapUp());
    EXPECT_FALSE(window.control(Control::HangUp).enabled);
    EXPECT_TRUE(eventually([&] { return !core->lines().lineIsUp(0); }));
}

TEST_F(LivePhoneTest, ManualDialFromNotReadyReachesTheSwitchWithTheTrackNumber) {
    loginNotReady();
    buttons->OnBnClickedButtonDial();
    EXPECT_EQ(sent("99,"), "99,0^" + kAgent);
    ASSERT_TRUE(eventually([&] { return window.dialPadRequests() == 1; }));
    window.answerDialWindow({true, "0612", 0});
    buttons->showDialPad();
    const std::string called = "MCALL0612^9001";
    const auto call = waitForSwitchCall([&](const LabCallInfo& c) { return c.called == called; });
    ASSERT_TRUE(call);
    EXPECT_EQ(call->callerNumber, kAgent);
    ASSERT_TRUE(waitForState(agent::AgentNotReadyInCall));
    EXPECT_EQ(sent("65,"), "65,0612^" + kAgent + "^9001");
    EXPECT_TRUE(labtone::present(audioAfter(call->id, 1000ms), kAgentHertz, kCustomerHertz));

    switchboard.hangUp(call->id);  // the customer hangs up
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_EQ(sent("137,"), "137,9001");  // the line's track number, reported as it goes down
}

TEST_F(LivePhoneTest, PreviewDialGoesOutWithTheCustomersCallerId) {
    loginNotReady();
    goReady();
    cti.push(labcti::dialPreview({"http://crm/preview", "0699", "R1", "TBL", "Camp", "ACME", "0800", "T3"}));
    ASSERT_TRUE(waitForState(agent::AgentPreview));
    // The preview releases the agent channel on its own thread; the agent confirms once it is gone.
    ASSERT_TRUE(eventually([&] { return !core->lines().lineIsUp(0); }));
    window.answerDialWindow({true, "", 0});
    buttons->showPreviewDial();
    const auto call = waitForSwitchCall([](const LabCallInfo& c) { return c.called == "0699"; });
    ASSERT_TRUE(call);
    EXPECT_EQ(call->callerNumber, "0800");
    EXPECT_EQ(call->callerName, "ACME");
    EXPECT_TRUE(log.contains("CImplementation::dialPreview(): FIRST_LINE selected on DIAL"));
}

TEST_F(LivePhoneTest, RegistrationRejectedByTheSwitchEndsTheLogin) {
    switchboard.configure([](LabSwitchOptions& options) { options.registrationMode = LabRegistrationMode::Reject; });
    core->initialize();
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    ASSERT_TRUE(buttons->OnBnClickedButtonLogin({kAgent, kPassword, "127.0.0.1", std::to_string(cti.port())}));
    ASSERT_TRUE(eventually([&] { return log.contains("Ticker text was change for [Registration rejected from switch !]"); }));
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    EXPECT_TRUE(log.contains("FSM: Begin. State:[Agent-Logging-In-Whith-Not-Ready]. Event:[Failed-Event]."));
    EXPECT_TRUE(cti.waitForDisconnection(kWait));
}

TEST_F(LivePhoneTest, AgentChannelThatTheSwitchNeverAnswersTimesOutBackToNotReady) {
    switchboard.configure([](LabSwitchOptions& options) {
        options.routes.push_back({"ZQ", LabCallAnswer::Never, std::nullopt, {}, {}});
    });
    cti.configure([](LabCtiOptions& options) { options.loginSettings.wrapUp = {"NOT_READY", "30", "0"}; });
    loginNotReady();
    buttons->OnBnClickedButtonReady();
    ASSERT_TRUE(waitForSwitchCall([](const LabCallInfo& c) { return c.called == "ZQ" + kAgent; }));
    ASSERT_TRUE(eventually([&] { return log.contains("doAgentReadyThread(): Timeout on Asterisk dial, going back to not ready"); }));
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_EQ(log.count("FSM: Begin. State:[Agent-Going-Ready-In-Progress]. Event:[First-Line-Timeout-Event]."), 1);
    EXPECT_TRUE(waitForSwitchCall([](const LabCallInfo& c) { return c.state == LabCallState::Ended; }))
        << "the unanswered agent channel was left ringing";
}

TEST_F(LivePhoneTest, CompletedConferenceLetsEveryPartyHearTheOthers) {
    loginNotReady();
    const int channel = goReady();
    distributeCall("T1");
    setFarParty(800);  // the consulted party says another tone
    window.answerDialWindow({true, "0614", 0});
    auto conference = std::async(std::launch::async, [&] { core->OnBnClickedButtonConference(); });
    const auto consulted = waitForSwitchCall(
        [](const LabCallInfo& c) { return c.called == "0614" && c.state == LabCallState::Answered; });
    ASSERT_TRUE(consulted);
    EXPECT_EQ(onWire("QUELCH"), "QUELCH moh");  // the customer waits on hold meanwhile
    ASSERT_TRUE(waitForState(agent::AgentReadyInCallCompletingConference));
    window.clickConferenceButton(Click::Complete);
    conference.get();
    ASSERT_TRUE(waitForState(agent::AgentReadyInConference));
    EXPECT_TRUE(sent("78,").rfind("78,1001^0614^T1^", 0) == 0);

    const std::size_t customerBefore = switchboard.receivedAudio(channel).size();
    const std::size_t consultedBefore = switchboard.receivedAudio(consulted->id).size();
    std::this_thread::sleep_for(1500ms);
    const auto tail = [&](int id, std::size_t from) {
        auto all = switchboard.receivedAudio(id);
        return std::vector<std::int16_t>(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end());
    };
    const auto customerHears = tail(channel, customerBefore);
    const auto consultedHears = tail(consulted->id, consultedBefore);
    EXPECT_TRUE(labtone::present(customerHears, 800, kMusicOnHoldHertz)) << "the customer does not hear the third party";
    EXPECT_TRUE(labtone::present(customerHears, kAgentHertz, kMusicOnHoldHertz)) << "the customer does not hear the agent";
    EXPECT_TRUE(labtone::present(consultedHears, kCustomerHertz, kMusicOnHoldHertz))
        << "the third party does not hear the customer";
    EXPECT_TRUE(labtone::present(consultedHears, kAgentHertz, kMusicOnHoldHertz)) << "the third party does not hear the agent";
}
