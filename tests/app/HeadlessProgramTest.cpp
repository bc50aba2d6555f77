// The orvane program as a newcomer runs it: its exit status and what it prints when it cannot
// do its job, the agent's commands on standard input, the windowed phone's clean close.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "infra/InstanceGuard.h"
#include "lab/common/LabSocket.h"
#include "lab/cti/LabCtiServer.h"
#include "lab/switch/LabSwitch.h"
#include "support/ChildProgram.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

class ProgramTest : public ::testing::Test {
protected:
    static constexpr auto kWait = 60s;  // only bounds a failure: the program starts slowly under the sanitizers

    ProgramTest() { ::mkdir(path("runtime").c_str(), 0700); }

    std::string path(const std::string& name) const { return (folder.path() / name).string(); }

    // The phone's world: a home, settings and lock of its own, virtual audio, time ten times faster.
    std::vector<std::string> environment() const {
        return {"HOME=" + folder.str(), "XDG_CONFIG_HOME=" + path("config"), "XDG_RUNTIME_DIR=" + path("runtime"),
                "ORVANE_LOG_DIR=" + folder.str(), "ORVANE_AUDIO=virtual", "ORVANE_TIME_SCALE=0.1"};
    }

    // Starts the program; `extra` (NAME=VALUE) is added to, or replaces, environment().
    void start(std::vector<std::string> arguments, const std::vector<std::string>& extra = {}) {
        ChildRun how;
        how.arguments = {ORVANE_PROGRAM};
        how.arguments.insert(how.arguments.end(), arguments.begin(), arguments.end());
        how.environment = environment();
        how.environment.insert(how.environment.end(), extra.begin(), extra.end());
        how.unset = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ORVANE_PASSWORD"};
        how.workingDirectory = folder.str();
        how.typedInput = true;
        how.limit = 3 * kWait;
        program.emplace(how);
    }

    // Types on the program's standard input.
    void type(const char* text) { EXPECT_TRUE(program->type(text)) << "the program is gone"; }
    // Waits for standard output to hold `text`.
    bool printed(const std::string& text) {
        return program->waitUntil([&] { return program->output().find(text) != std::string::npos; }, kWait);
    }
    // The exit status; -1 when it crashed or did not end in time.
    int exitStatus() {
        const ChildRun::Result result = program->finish();
        output = result.output;
        errors = result.errors;
        return WIFEXITED(result.status) ? WEXITSTATUS(result.status) : -1;
    }
    std::string logText() const {
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            if (entry.path().filename().string().rfind("Orvane.", 0) == 0) {
                std::ifstream in(entry.path());
                return std::string(std::istreambuf_iterator<char>(in), {});
            }
        return {};
    }

    TempDir folder;
    std::optional<RunningChild> program;
    std::string output;  // all of it, once the program has ended
    std::string errors;
};

// The lab for a whole login: the switch registers the agent, the CTI server knows its password.
class LabProgramTest : public ProgramTest {
protected:
    LabProgramTest() {
        switchboard.configure([](LabSwitchOptions& options) {
            options.users["1001"] = "pw1001";
            options.ringTime = 100ms;
        });
        EXPECT_TRUE(switchboard.start());
        cti.configure([&](LabCtiOptions& options) {
            options.agents["1001"] = "pw1001";
            options.switchInfo = labcti::SwitchInfo{"127.0.0.1", std::to_string(switchboard.port())};
            options.loginSettings.wrapUp = {"NOT_READY", "30", "1"};
        });
        EXPECT_TRUE(cti.start());
    }
    std::string ctiAddress() const { return "127.0.0.1:" + std::to_string(cti.port()); }

    LabSwitch switchboard;
    LabCtiServer cti;
};

}  // namespace

TEST_F(ProgramTest, ABadCommandLineEndsWithStatusTwoAndStoresNothing) {
    start({"--headless", "--agent", "1001", "--cti", "cti.example:0"});
    EXPECT_EQ(exitStatus(), 2);
    EXPECT_NE(errors.find("the port must be a number from 1 to 65535"), std::string::npos) << errors;
    EXPECT_FALSE(std::filesystem::exists(path("config"))) << "nothing was stored";
}

TEST_F(ProgramTest, WithoutADisplayTheWindowedPhoneSuggestsTheHeadlessOne) {
    start({});
    EXPECT_EQ(exitStatus(), 2);
    EXPECT_NE(errors.find("'orvane --headless' runs the phone without a window"), std::string::npos) << errors;
}

TEST_F(ProgramTest, AServerThatCannotBeReachedEndsTheHeadlessPhoneWithStatusOne) {
    std::uint16_t closedPort = 0;
    {
        const LabSocket probe = LabSocket::listenOnLoopback(0);
        closedPort = probe.localPort();
    }
    start({"--headless", "--agent", "1001", "--cti", "127.0.0.1:" + std::to_string(closedPort)},
          {"ORVANE_TIME_SCALE=0.01", "ORVANE_PASSWORD=pw"});
    EXPECT_EQ(exitStatus(), 1);
    EXPECT_NE(output.find("orvane: cannot work: the CTI server cannot be reached"), std::string::npos) << output;
    EXPECT_NE(output.find("Closed."), std::string::npos) << "it still closes cleanly";
}

// The version is logged first, then the single-instance check refuses the second copy.
TEST_F(ProgramTest, ASecondCopyEndsWithStatusOneAndSaysWhy) {
    InstanceGuard first(path("runtime") + "/Orvane.lock");
    ASSERT_EQ(first.acquire(), InstanceGuard::Result::FirstInstance);
    start({"--headless"});
    EXPECT_EQ(exitStatus(), 1);
    EXPECT_NE(output.find("Orvane is already running for this user."), std::string::npos) << output;
    const std::string log = logText();
    const auto version = log.find("Current Orvane Version : ");
    const auto check = log.find("Verifying if Orvane is already running");
    ASSERT_NE(version, std::string::npos);
    ASSERT_NE(check, std::string::npos);
    EXPECT_LT(version, check);
}

TEST_F(LabProgramTest, ARefusedLoginEndsWithStatusOne) {
    start({"--headless", "--agent", "1001", "--cti", ctiAddress()}, {"ORVANE_PASSWORD=nope"});
    EXPECT_EQ(exitStatus(), 1);
    EXPECT_NE(output.find("orvane: cannot work: the CTI server refused the login"), std::string::npos) << output;
}

// The agent's commands, typed on standard input, go through the phone's own buttons; the
// password comes first on the same input, never on the command line.
TEST_F(LabProgramTest, TheAgentsCommandsOnStandardInputDriveThePhone) {
    start({"--headless", "--agent", "1001", "--password-stdin", "--cti", ctiAddress(), "--iax-port", "0",
           "--client-port", std::to_string(LabSocket::listenOnLoopback(0).localPort())});
    type("pw1001\n");
    ASSERT_TRUE(printed("Agent-Not-Ready (AgentNotReady)")) << program->output();
    cti.clearReceived();
    type("ready\n");
    EXPECT_TRUE(cti.waitFor("36,0^1001", 10s).has_value()) << "the agent became ready";
    ASSERT_TRUE(printed("Agent-Ready (AgentReady)")) << program->output();
    type("notready Lunch\n");
    ASSERT_TRUE(printed("[Not Ready : Lunch]")) << program->output();
    type("dance\nnotready Siesta\n");
    EXPECT_TRUE(printed("unknown command 'dance'; type help"));
    EXPECT_TRUE(printed("no not-ready reason 'Siesta'; the server offers: Break, Lunch, Training"));
    type("quit\n");
    EXPECT_EQ(exitStatus(), 0);
    EXPECT_TRUE(cti.waitFor("35,", 5s).has_value()) << "the agent was logged out";
    EXPECT_NE(output.find("Closed."), std::string::npos);
}

TEST_F(LabProgramTest, TheWindowedPhoneLogsInAtStartAndClosesCleanlyOnSigterm) {
    start({"--agent", "1001", "--cti", ctiAddress(), "--iax-port", "0", "--client-port",
           std::to_string(LabSocket::listenOnLoopback(0).localPort())},
          {"QT_QPA_PLATFORM=offscreen", "ORVANE_PASSWORD=pw1001"});
    ASSERT_TRUE(switchboard.waitForRegistration("1001", kWait));
    program->signal(SIGTERM);
    EXPECT_EQ(exitStatus(), 0) << errors;
    EXPECT_TRUE(cti.waitFor("35,", 5s).has_value()) << "the agent was logged out";
    EXPECT_NE(logText().find("Finish close"), std::string::npos);
}
