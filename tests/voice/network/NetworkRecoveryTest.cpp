#include <gtest/gtest.h>

#include <map>

#include "support/FakeVoiceEngine.h"
#include "support/LogCapture.h"
#include "support/RecordingVoiceAgent.h"
#include "voice/SwitchRegistration.h"
#include "voice/network/NetworkRecovery.h"
#include "voice/network/NetlinkBytes.h"

using netlink::RoutePath;
using netlink_bytes::ip;
using Strings = std::vector<std::string>;

namespace {

RoutePath path(const char* source, const char* gateway, int interfaceIndex = 2) {
    return {true, ip(source), ip(gateway), interfaceIndex};
}

// The recovery between a scripted engine, the switch registration and a recording agent, with
// the kernel's answers to route requests given by the test.
class NetworkRecoveryTest : public ::testing::Test {
protected:
    NetworkRecoveryTest() {
        switchRegistration.setAsteriskHost("10.9.0.1");
        switchRegistration.setAsteriskPort(4569);
    }

    // Registered, with the path the recovery remembered at the acceptance.
    void registerAt(const RoutePath& first) {
        route = first;
        switchRegistration.registerWithSwitch("4711", "pw", "10.9.0.1", 4569);
        ASSERT_TRUE(switchRegistration.registrationAccepted());
        recovery.networkChanged({});  // the look the acceptance asks for
        engine.clearOperations();
        agentSide.clear();
    }
    void changed(std::vector<std::uint32_t> removed = {}) { recovery.networkChanged({true, std::move(removed)}); }

    LogCapture log;
    FakeVoiceEngine engine;
    RecordingVoiceAgent agentSide;
    SwitchRegistration switchRegistration{engine, agentSide};
    std::optional<RoutePath> route;
    Strings lookedUp;
    NetworkRecovery recovery{engine, switchRegistration, agentSide, [this](const std::string& host) {
                                 lookedUp.push_back(host);
                                 return route;
                             }};
};

}  // namespace

TEST_F(NetworkRecoveryTest, WithoutARegistrationNothingIsLookedAtOrRestarted) {
    changed({ip("10.0.0.2")});
    recovery.sleepChanged(false);
    EXPECT_TRUE(lookedUp.empty());
    EXPECT_EQ(engine.count("restart network ending calls") + engine.count("restart network keeping calls"), 0);
    EXPECT_TRUE(agentSide.calls().empty());
}

TEST_F(NetworkRecoveryTest, AnUnchangedPathKeepsEverythingAsItIs) {
    registerAt(path("10.0.0.2", "10.0.0.1"));
    changed();
    EXPECT_EQ(lookedUp, (Strings{"10.9.0.1:4569", "10.9.0.1:4569"}));
    EXPECT_TRUE(engine.operations().empty());
    EXPECT_TRUE(agentSide.calls().empty());
    EXPECT_TRUE(log.mentions("is unchanged: from 10.0.0.2 via 10.0.0.1 on interface 2"));
}

// The address the calls used is gone: they end, the socket opens again, the switch is asked
// again, the agent is told, and the acceptance reads as a recovery, not as a new login.
TEST_F(NetworkRecoveryTest, ANewSourceAddressEndsTheCallsAndRegistersAgain) {
    registerAt(path("10.0.0.2", "10.0.0.1"));
    route = path("10.0.0.3", "10.0.0.1");
    changed({ip("10.0.0.2")});
    EXPECT_EQ(engine.operations(), Strings{"restart network ending calls"});
    EXPECT_EQ(agentSide.calls(), Strings{"ticker [Network changed, registering with switch again...]"});
    EXPECT_TRUE(log.mentions("The path to the switch [10.9.0.1:4569] changed (from 10.0.0.3 via 10.0.0.1 on interface 2, "
                             "was from 10.0.0.2 via 10.0.0.1 on interface 2, its address was removed): registering again"));

    EXPECT_FALSE(switchRegistration.registrationAccepted());
    EXPECT_EQ(agentSide.calls().back(), "ticker [Switch registration restored]");

    // The new path is the one remembered now.
    engine.clearOperations();
    changed();
    EXPECT_TRUE(engine.operations().empty());
}

// An address taken away and given back within one burst still broke the calls' path.
TEST_F(NetworkRecoveryTest, TheSourceAddressRemovedAndBackInOneBurstStillRegistersAgain) {
    registerAt(path("10.0.0.2", "10.0.0.1"));
    changed({ip("10.0.0.2")});
    EXPECT_EQ(engine.operations(), Strings{"restart network ending calls"});
}

TEST_F(NetworkRecoveryTest, ANewNextHopKeepsTheCallsButRegistersAgain) {
    registerAt(path("10.0.0.2", "10.0.0.1"));
    route = path("10.0.0.2", "10.0.0.254", 3);
    changed({ip("192.168.5.5")});
    EXPECT_EQ(engine.operations(), Strings{"restart network keeping calls"});
}

// The network goes away entirely, then comes back: both are changes of the path; the failing
// re-registration shows as a loss until the switch is reached again.
TEST_F(NetworkRecoveryTest, NoRouteAndTheRouteBackEachRegisterAgain) {
    registerAt(path("10.0.0.2", "10.0.0.1"));
    route = RoutePath{};
    changed({ip("10.0.0.2")});
    EXPECT_FALSE(switchRegistration.registrationRejected());
    EXPECT_EQ(agentSide.calls().back(), "ticker [Switch registration lost, retrying...]");

    route = path("10.0.0.7", "10.0.0.1");
    changed();
    EXPECT_EQ(engine.operations(), (Strings{"restart network ending calls", "restart network ending calls"}));
    EXPECT_FALSE(switchRegistration.registrationAccepted());
    EXPECT_EQ(agentSide.calls().back(), "ticker [Switch registration restored]");
}

TEST_F(NetworkRecoveryTest, APathThatCannotBeLookedUpChangesNothing) {
    registerAt(path("10.0.0.2", "10.0.0.1"));
    route.reset();
    changed();
    EXPECT_TRUE(engine.operations().empty());
}

TEST_F(NetworkRecoveryTest, WakingRegistersAgainAndKeepsTheCallsOnlyOnTheSamePath) {
    registerAt(path("10.0.0.2", "10.0.0.1"));
    recovery.sleepChanged(true);
    EXPECT_TRUE(engine.operations().empty());
    recovery.sleepChanged(false);
    EXPECT_EQ(engine.operations(), Strings{"restart network keeping calls"});
    EXPECT_EQ(agentSide.calls(), Strings{"ticker [Awake again, registering with switch again...]"});
    EXPECT_FALSE(switchRegistration.registrationAccepted());

    route = path("192.168.1.20", "192.168.1.1", 4);
    recovery.sleepChanged(false);
    EXPECT_EQ(engine.operations(), (Strings{"restart network keeping calls", "restart network ending calls"}));
}

// While the login's registration is still under way, the engine asks again but the agent's
// login goes on as before: its answer is still the login's.
TEST_F(NetworkRecoveryTest, ARegistrationUnderWayIsAskedForAgainAndStillAnswersTheLogin) {
    route = path("10.0.0.2", "10.0.0.1");
    switchRegistration.registerWithSwitch("4711", "pw", "10.9.0.1", 4569);
    recovery.sleepChanged(false);
    EXPECT_EQ(engine.count("restart network ending calls"), 1);
    EXPECT_TRUE(switchRegistration.registrationAccepted());
}
