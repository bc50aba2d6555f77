#include <gtest/gtest.h>

#include <chrono>

#include "infra/Timing.h"
#include "lab/switch/LabSwitch.h"
#include "lab/switch/LabSwitchConsole.h"

namespace {

using namespace std::chrono_literals;

class LabSwitchConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        LabSwitchOptions options;
        options.users = {{"1001", "pw1001"}, {"1002", "pw1002"}};
        lab.configure([&](LabSwitchOptions& current) { current = options; });
        ASSERT_TRUE(lab.start());
    }

    LabSwitch lab;
    LabSwitchConsole console{lab};
};

TEST_F(LabSwitchConsoleTest, ChangesRoutesAndModesWhileRunning) {
    EXPECT_EQ(console.execute("route MCALL never"), "ok");
    EXPECT_EQ(console.execute("route 9 reject"), "ok");
    EXPECT_EQ(console.execute("route 9 busy 500"), "ok");
    const auto routes = lab.options().routes;
    ASSERT_EQ(routes.size(), 2u);
    EXPECT_EQ(routes[0].prefix, "MCALL");
    EXPECT_EQ(routes[0].answer, LabCallAnswer::Never);
    EXPECT_EQ(routes[1].answer, LabCallAnswer::Busy);
    EXPECT_EQ(routes[1].ringTime, 500ms);
    EXPECT_EQ(console.execute("register-mode silent"), "ok");
    EXPECT_EQ(lab.options().registrationMode, LabRegistrationMode::Silent);
    EXPECT_EQ(console.execute("call-tokens on"), "ok");
    EXPECT_TRUE(lab.options().callTokens);
}

TEST_F(LabSwitchConsoleTest, ListsUsersAndCallsAndRefusesWhatItCannotDo) {
    EXPECT_EQ(console.execute("users"), "1001 not registered\n1002 not registered");
    EXPECT_EQ(console.execute("calls"), "no calls");
    EXPECT_EQ(console.execute("originate 1001 5551234 Lab Customer"), "error: 1001 is not registered");
    EXPECT_EQ(console.execute("answer 4"), "error: no call 4 to answer");
    EXPECT_EQ(console.execute("hangup x"), "error: usage: hangup ID");
    EXPECT_EQ(console.execute("route 9 sometimes"), "error: usage: route PREFIX answer|never|reject|busy [MS]");
    EXPECT_EQ(console.execute("route 9 answer soon"), "error: usage: route PREFIX answer|never|reject|busy [MS]");
    EXPECT_EQ(console.execute("register-mode maybe"), "error: usage: register-mode accept|reject|silent");
    EXPECT_EQ(console.execute("wait-for REGREQ 0"), "error: nothing starting with REGREQ");
    EXPECT_EQ(console.execute("frobnicate"), "error: unknown command frobnicate (try help)");
    EXPECT_EQ(console.execute("# a comment"), "");
    EXPECT_NE(console.execute("help").find("originate USER NUMBER"), std::string::npos);
}

}  // namespace
