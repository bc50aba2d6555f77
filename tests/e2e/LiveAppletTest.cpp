#include "LivePhoneFixture.h"

#include "lab/applet/LabAppletClient.h"
#include "lab/applet/LabAppletRequests.h"

namespace {

// The live phone driven by the agent's web applet through its local listener.
class LiveAppletTest : public LivePhoneFixture {
protected:
    void connectApplet() {
        ASSERT_TRUE(eventually([&] { return core->clientListener().port() != 0; }));
        applet.emplace(LabAppletOptions{static_cast<std::uint16_t>(core->clientListener().port()), true,
                                        intervals::kLabAppletHeartbeat});
        ASSERT_TRUE(applet->connect());
        ASSERT_TRUE(applet->waitForReply("58", kWait));
        applet->clearReplies();
    }
    std::string reply(const std::string& prefix) { return applet->waitForReply(prefix, kWait).value_or("<nothing>"); }
    std::optional<LabCallInfo> answeredAgentChannel(int after) {
        return waitForSwitchCall([after](const LabCallInfo& c) {
            return c.id > after && c.called == "ZQ" + kAgent && c.state == LabCallState::Answered;
        });
    }

    std::optional<LabAppletClient> applet;
};

}  // namespace

TEST_F(LiveAppletTest, TheAppletsDayReadyACallItsHangUpAndWrapUpIntoReadyAgain) {
    cti.configure([](LabCtiOptions& options) { options.loginSettings.wrapUp = {"READY", "5", "1"}; });
    loginNotReady();
    connectApplet();

    applet->send(labapplet::forceReady());
    EXPECT_EQ(reply("3,"), "3,Force Ready done!");
    const auto channel = answeredAgentChannel(0);
    ASSERT_TRUE(channel);
    ASSERT_TRUE(waitForState(agent::AgentReady));
    EXPECT_EQ(sent("36,"), "36,0^" + kAgent);

    cti.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    EXPECT_TRUE(labtone::present(audioAfter(channel->id, 1000ms), kAgentHertz, kCustomerHertz));

    cti.clearReceived();
    applet->send(labapplet::forceHangup());
    EXPECT_EQ(reply("10,"), "10,Force hang up done ");
    EXPECT_EQ(sent("405,"), "405,0^" + kAgent);
    ASSERT_TRUE(waitForSwitchCall([&](const LabCallInfo& c) { return c.id == channel->id && c.state == LabCallState::Ended; }));
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_EQ(sent("37,"), "37,T1^" + kAgent);
    EXPECT_EQ(reply("4,"), "4,WRAP_UP_NOTIFICATION");

    // Wrap-up of 5 s (half a second here) ends in ready: a new agent channel.
    ASSERT_TRUE(answeredAgentChannel(channel->id));
    ASSERT_TRUE(waitForState(agent::AgentReady));
    EXPECT_EQ(sent("36,"), "36,0^" + kAgent);
    applet->clearReplies();
    applet->send(labapplet::forceReady());
    EXPECT_EQ(reply("3,"), "3,Wrong state... agent state = AgentReady");
}

TEST_F(LiveAppletTest, RemoteDialWhileReadyGoesOutOnLineTwoAndReportsItsSuccess) {
    loginNotReady();
    const int channel = goReady();
    connectApplet();
    applet->send(labapplet::dial("0613", "T6"));
    const auto call = waitForSwitchCall([](const LabCallInfo& c) { return c.called == "MCALL0613^T6"; });
    ASSERT_TRUE(call);
    ASSERT_TRUE(waitForState(agent::AgentReadyManualInCall));
    EXPECT_EQ(reply("1,"), "1,0613^T6^SUCCESS");
    EXPECT_EQ(switchboard.call(channel)->state, LabCallState::Answered);  // the agent channel stays on line 1
    EXPECT_EQ(voice->iaxc_selected_call(), 1);
}
