// The orvane program as a newcomer runs it: its exit status and what it prints when it cannot
// do its job, the agent's commands on standard input, the windowed phone's clean close.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <string>

#include "infra/InstanceGuard.h"
#include "lab/common/LabSocket.h"
#include "lab/cti/LabCtiServer.h"
#include "lab/switch/LabSwitch.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;

class ProgramTest : public ::testing::Test {
protected:
    static constexpr int kWaitMs = 60000;  // only bounds a failure: the program starts slowly under the sanitizers

    ProgramTest() { ::mkdir(path("runtime").c_str(), 0700); }
    void SetUp() override {
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "QProcess starts the program from a multi-threaded process in a way ThreadSanitizer cannot "
                        "follow; these tests run in the plain and AddressSanitizer builds";
#endif
    }
    ~ProgramTest() override {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    }

    std::string path(const std::string& name) const { return (folder.path() / name).string(); }

    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ORVANE_PASSWORD"})
            environment.remove(QString::fromLatin1(name));
        environment.insert("HOME", QString::fromStdString(folder.str()));
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString(path("config")));
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(path("runtime")));
        environment.insert("ORVANE_LOG_DIR", QString::fromStdString(folder.str()));
        environment.insert("ORVANE_AUDIO", "virtual");
        environment.insert("ORVANE_TIME_SCALE", "0.1");
        return environment;
    }

    void start(const QStringList& arguments, const QProcessEnvironment& environment) {
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(QString::fromStdString(folder.str()));
        program.start(QStringLiteral(ORVANE_PROGRAM), arguments);
        ASSERT_TRUE(program.waitForStarted(kWaitMs));
    }
    void start(const QStringList& arguments) { start(arguments, environment()); }

    // Types on the program's standard input.
    void type(const char* text) {
        program.write(text);
        program.waitForBytesWritten(kWaitMs);
    }
    // Waits for a line of standard output holding `text`.
    bool printed(const std::string& text, int timeoutMs = kWaitMs) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            output += program.readAllStandardOutput().toStdString();
            if (output.find(text) != std::string::npos) return true;
            if (clock.elapsed() > timeoutMs || program.state() == QProcess::NotRunning) {
                output += program.readAllStandardOutput().toStdString();
                return output.find(text) != std::string::npos;
            }
            program.waitForReadyRead(100);
        }
    }
    // The exit status; -1 when it crashed or did not end in time.
    int exitStatus() {
        if (!program.waitForFinished(kWaitMs)) return -1;
        output += program.readAllStandardOutput().toStdString();
        errors += program.readAllStandardError().toStdString();
        return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
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
    QProcess program;
    std::string output;
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
    QString ctiAddress() const { return QStringLiteral("127.0.0.1:%1").arg(cti.port()); }

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
    QProcessEnvironment quick = environment();
    quick.insert("ORVANE_TIME_SCALE", "0.01");
    quick.insert("ORVANE_PASSWORD", "pw");
    start({"--headless", "--agent", "1001", "--cti", QStringLiteral("127.0.0.1:%1").arg(closedPort)}, quick);
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
    QProcessEnvironment wrong = environment();
    wrong.insert("ORVANE_PASSWORD", "nope");
    start({"--headless", "--agent", "1001", "--cti", ctiAddress()}, wrong);
    EXPECT_EQ(exitStatus(), 1);
    EXPECT_NE(output.find("orvane: cannot work: the CTI server refused the login"), std::string::npos) << output;
}

// The agent's commands, typed on standard input, go through the phone's own buttons; the
// password comes first on the same input, never on the command line.
TEST_F(LabProgramTest, TheAgentsCommandsOnStandardInputDriveThePhone) {
    start({"--headless", "--agent", "1001", "--password-stdin", "--cti", ctiAddress(), "--iax-port", "0",
           "--client-port", QString::number(LabSocket::listenOnLoopback(0).localPort())});
    type("pw1001\n");
    ASSERT_TRUE(printed("Agent-Not-Ready (AgentNotReady)")) << output;
    cti.clearReceived();
    type("ready\n");
    EXPECT_TRUE(cti.waitFor("36,0^1001", 10s).has_value()) << "the agent became ready";
    ASSERT_TRUE(printed("Agent-Ready (AgentReady)")) << output;
    type("notready Lunch\n");
    ASSERT_TRUE(printed("[Not Ready : Lunch]")) << output;
    type("dance\nnotready Siesta\n");
    EXPECT_TRUE(printed("unknown command 'dance'; type help"));
    EXPECT_TRUE(printed("no not-ready reason 'Siesta'; the server offers: Break, Lunch, Training"));
    type("quit\n");
    EXPECT_EQ(exitStatus(), 0);
    EXPECT_TRUE(cti.waitFor("35,", 5s).has_value()) << "the agent was logged out";
    EXPECT_NE(output.find("Closed."), std::string::npos);
}

TEST_F(LabProgramTest, TheWindowedPhoneLogsInAtStartAndClosesCleanlyOnSigterm) {
    QProcessEnvironment offscreen = environment();
    offscreen.insert("QT_QPA_PLATFORM", "offscreen");
    offscreen.insert("ORVANE_PASSWORD", "pw1001");
    start({"--agent", "1001", "--cti", ctiAddress(), "--iax-port", "0", "--client-port",
           QString::number(LabSocket::listenOnLoopback(0).localPort())},
          offscreen);
    ASSERT_TRUE(switchboard.waitForRegistration("1001", 20s));
    program.terminate();
    EXPECT_EQ(exitStatus(), 0) << errors;
    EXPECT_TRUE(cti.waitFor("35,", 5s).has_value()) << "the agent was logged out";
    EXPECT_NE(logText().find("Finish close"), std::string::npos);
}
