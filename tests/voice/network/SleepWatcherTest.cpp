// logind's sleep signal over a private D-Bus daemon started by the test, with a stand-in for
// logind that owns its name and emits PrepareForSleep.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusMessage>

#include <signal.h>

#include <chrono>
#include <fstream>

#include "support/FakeVoiceEngine.h"
#include "support/LogCapture.h"
#include "support/RecordingVoiceAgent.h"
#include "support/Shell.h"
#include "support/TempDir.h"
#include "voice/SwitchRegistration.h"
#include "voice/network/NetlinkBytes.h"
#include "voice/network/NetworkRecovery.h"
#include "voice/network/SleepWatcher.h"

namespace {

// A message bus of the test's own; stopped with the object.
class PrivateBus {
public:
    PrivateBus() {
        const std::string config = (folder_.path() / "bus.conf").string();
        std::ofstream(config) << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                                 "<policy context=\"default\"><allow send_destination=\"*\"/>"
                                 "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
        const std::string started = commandOutput("dbus-daemon --config-file=" + config +
                                                  " --fork --print-address=1 --print-pid=1 2>/dev/null");
        const auto lineEnd = started.find('\n');
        if (lineEnd == std::string::npos) return;
        address_ = started.substr(0, lineEnd);
        pid_ = std::atoi(started.c_str() + lineEnd + 1);
    }
    ~PrivateBus() {
        if (pid_ > 0) kill(pid_, SIGTERM);
    }
    const std::string& address() const { return address_; }

private:
    TempDir folder_;
    std::string address_;
    int pid_ = 0;
};

void emitPrepareForSleep(QDBusConnection& logind, bool sleeping) {
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                     QStringLiteral("org.freedesktop.login1.Manager"),
                                                     QStringLiteral("PrepareForSleep"));
    signal << sleeping;
    ASSERT_TRUE(logind.send(signal));
}

}  // namespace

// Going to sleep is only noted; the wake opens the voice socket again and registers again,
// keeping the calls on an unchanged path.
TEST(SleepWatcherTest, LogindsSleepSignalReachesTheWatcherAndTheWakeRegistersAgain) {
    PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon could not start a private bus";
    int argc = 1;
    char name[] = "sleep_watcher_test";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    LogCapture log;

    FakeVoiceEngine engine;
    RecordingVoiceAgent agentSide;
    SwitchRegistration switchRegistration(engine, agentSide);
    switchRegistration.setAsteriskHost("10.9.0.1");
    switchRegistration.setAsteriskPort(4569);
    const netlink::RoutePath path{true, netlink_bytes::ip("10.0.0.2"), netlink_bytes::ip("10.0.0.1"), 2};
    NetworkRecovery recovery(engine, switchRegistration, agentSide, [&](const std::string&) { return path; });
    switchRegistration.registerWithSwitch("4711", "pw", "10.9.0.1", 4569);
    ASSERT_TRUE(switchRegistration.registrationAccepted());
    recovery.networkChanged({});
    engine.clearOperations();

    std::vector<bool> seen;
    {
        QDBusConnection logind = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "logind");
        QDBusConnection watched = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "watched");
        ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));
        SleepWatcher watcher([&](bool sleeping) {
            seen.push_back(sleeping);
            recovery.sleepChanged(sleeping);
        });
        ASSERT_TRUE(watcher.watch(watched));
        emitPrepareForSleep(logind, true);
        emitPrepareForSleep(logind, false);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);  // bounds a failure only
        while (seen.size() < 2 && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QDBusConnection::disconnectFromBus("logind");
    QDBusConnection::disconnectFromBus("watched");

    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    EXPECT_EQ(engine.operations(), std::vector<std::string>{"restart network keeping calls"});
    EXPECT_EQ(agentSide.calls(), std::vector<std::string>{"ticker [Awake again, registering with switch again...]"});
    EXPECT_TRUE(log.mentions("Awake again, registering with the switch [10.9.0.1:4569] again"));
}

TEST(SleepWatcherTest, ABusThatIsNotThereIsSaidSo) {
    int argc = 1;
    char name[] = "sleep_watcher_test";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    LogCapture log;
    SleepWatcher watcher([](bool) {});
    EXPECT_FALSE(watcher.watch(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), "missing")));
    QDBusConnection::disconnectFromBus("missing");
    EXPECT_TRUE(log.mentions("sleep and wake are not followed"));
}
