// The phone's registration through a real change of address: the phone in one network
// namespace, the lab switch in another, joined by a veth pair. Needs root (namespaces, ip).

#include <gtest/gtest.h>

#include <net/if.h>
#include <sched.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

#include "lab/switch/LabSwitch.h"
#include "support/Eventually.h"
#include "support/LogCapture.h"
#include "support/RecordingVoiceAgent.h"
#include "support/TimeScale.h"
#include "voice/SwitchRegistration.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/iax/FakeMediaEngine.h"
#include "voice/iax/IaxEngineFixture.h"
#include "voice/network/NetworkRecovery.h"
#include "voice/network/RouteLookup.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kWait = 10s;  // bounds a failure only
constexpr std::uint32_t kSwitchHost = 0x0A4D0001;  // 10.77.0.1

bool run(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    if (status != 0) ADD_FAILURE() << "failed: " << command;
    return status == 0;
}

// The switch's side: a thread in a network namespace of its own, where the lab switch is made,
// serves, and is stopped. Its namespace is reached by the thread's id.
class SwitchSide {
public:
    SwitchSide() : thread_([this] { serve(); }) {}
    ~SwitchSide() {
        {
            std::lock_guard guard(lock_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    // The thread's id once it is in its namespace; 0 when it could not make one.
    pid_t threadId() {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] { return tid_ != 0 || failed_; });
        return tid_;
    }
    // Starts the switch in the namespace; its port, 0 when it did not start.
    std::uint16_t startSwitch(LabSwitchOptions options) {
        std::unique_lock guard(lock_);
        options_ = std::move(options);
        changed_.notify_all();
        changed_.wait(guard, [&] { return started_; });
        return port_;
    }
    LabSwitch& lab() { return *lab_; }

private:
    void serve() {
        std::unique_lock guard(lock_);
        if (unshare(CLONE_NEWNET) != 0) {
            failed_ = true;
            changed_.notify_all();
            return;
        }
        tid_ = gettid();
        changed_.notify_all();
        changed_.wait(guard, [&] { return options_ || stop_; });
        if (options_) {
            lab_ = std::make_unique<LabSwitch>(*options_);
            port_ = lab_->start() ? lab_->port() : 0;
        }
        started_ = true;
        changed_.notify_all();
        changed_.wait(guard, [&] { return stop_; });
        if (lab_) lab_->stop();
        lab_.reset();
    }

    std::mutex lock_;
    std::condition_variable changed_;
    pid_t tid_ = 0;
    bool failed_ = false;
    std::optional<LabSwitchOptions> options_;
    bool started_ = false;
    bool stop_ = false;
    std::uint16_t port_ = 0;
    std::unique_ptr<LabSwitch> lab_;
    std::thread thread_;
};

class NetworkNamespaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0 || std::system("ip -V >/dev/null 2>&1 && nsenter --version >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "needs root and the ip and nsenter tools to build network namespaces";
        // This thread, and every thread and socket it makes from now on, is in the phone's namespace.
        if (unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "cannot create a network namespace: " << std::strerror(errno);
        switchSide_ = std::make_unique<SwitchSide>();
        const pid_t switchThread = switchSide_->threadId();
        if (switchThread == 0) GTEST_SKIP() << "cannot create a second network namespace";
        const std::string inSwitch =
            "nsenter --net=/proc/" + std::to_string(getpid()) + "/task/" + std::to_string(switchThread) + "/ns/net ";
        ASSERT_TRUE(run("ip link set lo up"));
        ASSERT_TRUE(run("ip link add vphone type veth peer name vswitch"));
        ASSERT_TRUE(run("ip link set vswitch netns " + std::to_string(switchThread)));
        ASSERT_TRUE(run(inSwitch + "ip link set lo up"));
        ASSERT_TRUE(run(inSwitch + "ip addr add 10.77.0.1/24 dev vswitch"));
        ASSERT_TRUE(run(inSwitch + "ip link set vswitch up"));
        ASSERT_TRUE(run("ip addr add 10.77.0.2/24 dev vphone"));
        ASSERT_TRUE(run("ip link set vphone up"));

        LabSwitchOptions options;
        options.host = kSwitchHost;
        options.users = {{"1001", "pw1001"}};
        options.callTokens = true;
        switchPort_ = switchSide_->startSwitch(options);
        ASSERT_NE(switchPort_, 0);

        engine_ = std::make_unique<IaxVoiceEngine>(IaxEngineConfig{"0.0.0.0", 0, iax_format::Ulaw},
                                                   std::make_unique<FakeMediaEngine>());
        engine_->iaxc_set_event_callback([this](const VoiceEvent& event) {
            if (event.type == VoiceEvent::Result && event.resultCode == VoiceEvent::RegistrationAccepted) {
                acceptedAt_ = Clock::now();
                switch_->registrationAccepted();
            } else if (event.type == VoiceEvent::Result && event.resultCode == VoiceEvent::RegistrationRejected) {
                switch_->registrationRejected();
            }
            events_.add(event);
        });
        switch_ = std::make_unique<SwitchRegistration>(*engine_, agentSide_);
        ASSERT_EQ(engine_->iaxc_initialize(3), 0);
        switch_->setAsteriskHost("10.77.0.1");
        switch_->setAsteriskPort(switchPort_);
        recovery_ = std::make_unique<NetworkRecovery>(*engine_, *switch_, agentSide_, lookUpRoute);
        recovery_->start();
    }
    void TearDown() override {
        recovery_.reset();
        engine_.reset();
        switch_.reset();
        switchSide_.reset();
    }

    LabSwitch& lab() { return switchSide_->lab(); }
    std::string phoneAddress() {
        const auto registration = lab().registration("1001");
        return registration ? registration->address.toString() : "";
    }
    bool registeredFrom(const std::string& host) {
        return eventually([&] { return phoneAddress().rfind(host + ":", 0) == 0; }, kWait);
    }

    ScopedTimeScale scale_{0.1};
    LogCapture log_;
    std::unique_ptr<SwitchSide> switchSide_;
    std::uint16_t switchPort_ = 0;
    RecordingVoiceAgent agentSide_;
    EventLog events_;
    std::unique_ptr<IaxVoiceEngine> engine_;
    std::unique_ptr<SwitchRegistration> switch_;
    std::atomic<Clock::time_point> acceptedAt_{};
    std::unique_ptr<NetworkRecovery> recovery_;
};

}  // namespace

// The address the phone registered from goes away and another takes its place: the call on the
// old path ends, the phone registers from the new address at once, and the next call works.
TEST_F(NetworkNamespaceTest, AChangedAddressRegistersAgainFromTheNewOneAndTheNextCallWorks) {
    const auto accepted = EventLog::result(VoiceEvent::RegistrationAccepted, "Registration accepted");
    switch_->registerWithSwitch("1001", "pw1001", "10.77.0.1", switchPort_);
    ASSERT_TRUE(events_.waitFor(accepted, 1, kWait));
    ASSERT_TRUE(registeredFrom("10.77.0.2"));
    const std::string switchAddress = "10.77.0.1:" + std::to_string(switchPort_);
    ASSERT_TRUE(log_.waitFor("NetworkRecovery::rememberPath(): The path to the switch [" + switchAddress +
                                 "]: from 10.77.0.2 on interface " + std::to_string(if_nametoindex("vphone")),
                             kWait));

    const int answered = VoiceEvent::Active | VoiceEvent::Outgoing | VoiceEvent::Complete | VoiceEvent::Selected;
    ASSERT_EQ(engine_->iaxc_call("1001:pw1001@" + switchAddress + "/ZQ1001"), 0);
    ASSERT_TRUE(events_.waitFor(EventLog::state(0, answered), 1, kWait));

    const auto changedAt = Clock::now();
    ASSERT_TRUE(run("printf 'addr del 10.77.0.2/24 dev vphone\\naddr add 10.77.0.3/24 dev vphone\\n' | ip -batch -"));
    EXPECT_TRUE(events_.waitFor(EventLog::state(0, 0), 1, kWait));  // its path is gone
    ASSERT_TRUE(events_.waitFor(accepted, 2, kWait));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(acceptedAt_.load() - changedAt);
    std::printf("address change to registered again: %lld ms (of which the settle time: %lld ms)\n",
                static_cast<long long>(took.count()),
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(Timing::scaled(intervals::kNetworkSettle)).count()));
    EXPECT_TRUE(registeredFrom("10.77.0.3"));
    // On a loaded machine the removal and the addition may come as two bursts, each a restart.
    EXPECT_TRUE(eventually(
        [&] {
            const auto calls = agentSide_.calls();
            return calls.size() >= 2 && calls.front() == "ticker [Network changed, registering with switch again...]" &&
                   calls.back() == "ticker [Switch registration restored]";
        },
        kWait));

    const auto id = lab().originate("1001", "5551234", "Customer");
    ASSERT_TRUE(id);
    const auto ringing = [](const VoiceEvent& e) {
        return e.type == VoiceEvent::State && e.callNo == 0 && (e.state & VoiceEvent::Ringing) &&
               !(e.state & VoiceEvent::Outgoing);
    };
    ASSERT_TRUE(events_.waitFor(ringing, 1, kWait));
    ASSERT_EQ(engine_->iaxc_select_call(0), 0);
    EXPECT_TRUE(eventually([&] { return lab().call(*id)->state == LabCallState::Answered; }, kWait));
}

// The network goes away altogether and comes back with another address: the phone registers
// again as soon as the switch can be reached.
TEST_F(NetworkNamespaceTest, ANetworkThatComesBackRegistersAgainAtOnce) {
    switch_->registerWithSwitch("1001", "pw1001", "10.77.0.1", switchPort_);
    ASSERT_TRUE(events_.waitFor(EventLog::result(VoiceEvent::RegistrationAccepted, "Registration accepted"), 1, kWait));
    ASSERT_TRUE(log_.waitFor("NetworkRecovery::rememberPath(): The path to the switch [10.77.0.1:" +
                                 std::to_string(switchPort_) + "]: from 10.77.0.2 on interface " +
                                 std::to_string(if_nametoindex("vphone")),
                             kWait));

    ASSERT_TRUE(run("ip addr del 10.77.0.2/24 dev vphone"));
    ASSERT_TRUE(eventually([&] { return log_.mentions("changed (no route, was from 10.77.0.2"); }, kWait));
    // The kernel reports the address and its routes going in one go, several messages: one restart.
    ASSERT_TRUE(log_.waitFor("IaxVoiceEngine::restartNetwork(ending the calls)", kWait));
    EXPECT_EQ(log_.count("IaxVoiceEngine::restartNetwork(ending the calls)"), 1);
    ASSERT_TRUE(run("ip addr add 10.77.0.9/24 dev vphone"));
    EXPECT_TRUE(registeredFrom("10.77.0.9"));
    EXPECT_TRUE(eventually([&] { return agentSide_.calls().back() == "ticker [Switch registration restored]"; }, kWait));
}
