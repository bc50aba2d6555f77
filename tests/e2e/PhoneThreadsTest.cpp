#include "PhoneFixture.h"

#include <future>

#include "lab/applet/LabAppletClient.h"

namespace {

// The phone's threads under pressure: requests racing each other, and code that throws.
using PhoneThreadsTest = PhoneFixture;

// A clean close and the server's logout at the same moment both stop the local listener, one
// from the close thread, the other from the dispatcher. Run many times to meet the race.
class CloseRaceTest : public PhoneFixture, public ::testing::WithParamInterface<int> {};

}  // namespace

TEST_P(CloseRaceTest, ACleanCloseRacingAServerLogoutEndsCleanly) {
    loginNotReady();
    ASSERT_TRUE(eventually([&] { return core.clientListener().port() != 0; }));
    auto logout = std::async(std::launch::async, [&] { server.push(labcti::logoutAgent("Bye", "SUPERVISOR")); });
    buttons.OnBnClickedButtonClose();
    logout.get();
    ASSERT_TRUE(eventually([&] { return window.closed(); }));
    EXPECT_TRUE(core.isClosing());
}

INSTANTIATE_TEST_SUITE_P(FiftyTimes, CloseRaceTest, ::testing::Range(0, 50));

TEST_F(PhoneThreadsTest, TheListenerStartedAndStoppedFromFourThreadsAtOnceStillServesTheApplet) {
    startPhone();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                if ((i + t) % 2 == 0)
                    core.clientListener().start();
                else
                    core.clientListener().stop();
            }
        });
    for (auto& thread : threads) thread.join();
    core.clientListener().start();
    ASSERT_TRUE(eventually([&] { return core.clientListener().port() != 0; }));
    LabAppletClient applet({static_cast<std::uint16_t>(core.clientListener().port()), true,
                            intervals::kLabAppletHeartbeat});
    ASSERT_TRUE(applet.connect());
    EXPECT_TRUE(applet.waitForReply("58", kWait));
}

TEST_F(PhoneThreadsTest, AThrowingActionIsLoggedAndTheMachineGoesOn) {
    loginNotReady();
    voice.throwOn("ring on");  // Start-Ringing, run by the dispatcher for the manual dial
    buttons.OnBnClickedButtonDial();
    ASSERT_TRUE(eventually([&] { return window.dialPadRequests() == 1; }));
    window.answerDialWindow({true, "0612", 0});
    buttons.showDialPad();
    ASSERT_TRUE(log.waitFor("Unhandled exception in EventQueueThread: scripted failure of ring on", kWait));
    EXPECT_EQ(log.levelOf("Unhandled exception in EventQueueThread: scripted failure of ring on"), "ERROR");
    answerLine(0);
    ASSERT_TRUE(waitForState(agent::AgentNotReadyInCall));
}

TEST_F(PhoneThreadsTest, AThrowingHandlerIsLoggedAndTheLinkReadsOn) {
    loginNotReady();
    goReady();
    voice.throwOn("unquelch");  // the distributed call takes every line off hold first
    server.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
    ASSERT_TRUE(log.waitFor("Unhandled exception in ctiServerReceiver: scripted failure of unquelch 0", kWait));
    server.push(labcti::velmoraTracknum("T8", "2"));
    EXPECT_TRUE(eventually([&] { return voice.iaxc_get_call_tag(2).value_or("") == "T8"; }));
    EXPECT_TRUE(server.connected());
}

TEST_F(PhoneThreadsTest, AThrowingWorkerIsLoggedAndThePhoneStillClosesCleanly) {
    loginNotReady();
    voice.throwOn("call_on_line");  // the agent channel's dial, on the agent-ready thread
    buttons.OnBnClickedButtonReady();
    ASSERT_TRUE(log.waitFor(
        "Unhandled exception in doAgentReadyThread: scripted failure of call_on_line 0 1001@127.0.0.1:4569/ZQ1001",
        kWait));
    voice.throwOn("");
    buttons.OnBnClickedButtonClose();
    EXPECT_TRUE(eventually([&] { return window.closed(); }));
}
