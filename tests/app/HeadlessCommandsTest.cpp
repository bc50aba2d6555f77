#include "e2e/PhoneFixture.h"

#include "app/HeadlessCommands.h"

namespace {

// The headless phone's commands against the agent core with a scripted voice engine and the
// lab CTI server. The test's thread plays the phone's input thread: it runs the commands and
// is told of the window's changes.
class HeadlessCommandsTest : public PhoneFixture {
protected:
    ~HeadlessCommandsTest() override {
        window.closeDialWindow();
        commands.finish();
        Timing::setScale(1.0);  // the fixture's time scale undone
    }
    // Waits for `done`, letting the commands answer the windows the phone opens meanwhile.
    bool meanwhile(const std::function<bool()>& done) {
        return eventually([&] {
            commands.windowChanged();
            return done();
        });
    }
    bool printed(const std::string& text) {
        std::lock_guard guard(lock);
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }
    bool dialled(const std::string& number) {
        for (const std::string& operation : voice.operations())
            if (operation.rfind("call", 0) == 0 && operation.find(number) != std::string::npos) return true;
        return false;
    }

    std::mutex lock;
    std::vector<std::string> lines;
    HeadlessCommands commands{core, buttons, window, [this](const std::string& line) {
                                  std::lock_guard guard(lock);
                                  lines.push_back(line);
                              }};
};

}  // namespace

TEST_F(HeadlessCommandsTest, ReadyHoldAndHangUpGoThroughTheButtons) {
    loginNotReady();
    EXPECT_TRUE(commands.run("ready"));
    ASSERT_TRUE(waitForState(agent::AgentGoingReadyInProgress));
    answerLine(0);
    ASSERT_TRUE(waitForState(agent::AgentReady));
    server.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));

    server.clearReceived();
    commands.run("hold");
    EXPECT_EQ(sent("100,"), "100,0^1001^T1");
    commands.run("unhold");
    EXPECT_EQ(sent("101,"), "101,0^1001^T1");
    commands.run("HANGUP");
    EXPECT_EQ(sent("405,"), "405,0^1001");
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_FALSE(commands.run("quit"));
}

// "dial NUMBER" clicks Dial; the server allows it, the dial pad opens and gets the number.
TEST_F(HeadlessCommandsTest, DialAnswersTheDialPadTheServerLetsOpen) {
    loginNotReady();
    commands.run("dial 0612");
    EXPECT_EQ(sent("99,"), "99,0^1001");
    ASSERT_TRUE(meanwhile([&] { return dialled("0612"); }));
    EXPECT_EQ(core.storedSettings().dialList.get().front(), "0612");
}

TEST_F(HeadlessCommandsTest, TransferAnswersTheTransferWindowWithTheKindOfNumber) {
    loginNotReady();
    commands.run("ready");
    ASSERT_TRUE(waitForState(agent::AgentGoingReadyInProgress));
    answerLine(0);
    ASSERT_TRUE(waitForState(agent::AgentReady));
    server.push(labcti::queueDistribute({"T2", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    commands.run("transfer 2002 agent");
    ASSERT_TRUE(meanwhile([&] { return server.waitFor("412,", 10ms).has_value(); }));
    EXPECT_EQ(sent("412,"), "412,1001^T2^2002^AGENT");
}

TEST_F(HeadlessCommandsTest, MistakesAreAnsweredNotCarriedOut) {
    startPhone();
    commands.run("transfer");
    commands.run("transfer 2002 supervisor");
    commands.run("cancel");
    commands.run("dial");
    commands.run("jump");
    EXPECT_TRUE(printed("usage: transfer NUMBER [agent|queue]"));
    EXPECT_TRUE(printed("no dial window is open"));
    EXPECT_TRUE(printed("dial needs a number (without one it takes an offered preview call)"));
    EXPECT_TRUE(printed("unknown command 'jump'; type help"));
    EXPECT_TRUE(commands.run("help"));
    EXPECT_TRUE(printed(HeadlessCommands::help()));
    window.showMessageBox("RegSetValueEx failed.", "Registry Error");
    commands.windowChanged();
    EXPECT_TRUE(printed("Registry Error: RegSetValueEx failed.")) << "a message box is printed";
}
