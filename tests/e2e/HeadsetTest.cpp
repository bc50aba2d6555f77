// The agent's telephony headset on the whole phone: its input reports played over a socket
// pair, its lights read from the other end, the calls real against the lab switch and CTI
// server.

#include <fcntl.h>
#include <linux/uhid.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "LivePhoneFixture.h"
#include "support/TestHeadset.h"

namespace {

class HeadsetTest : public LivePhoneFixture {
protected:
    void plugIn(TestHeadset& headset, bool relativeHook = false) {
        ASSERT_TRUE(core->headset().addDevice(headset.takePhoneEnd(), TestHeadset::descriptor(relativeHook),
                                              "Test Headset"));
        ASSERT_TRUE(headset.waitForLights(0, kWait));
    }
    bool switchCallIs(int id, LabCallState state) {
        return eventually([&] { return switchboard.call(id) && switchboard.call(id)->state == state; });
    }
};

// A customer's call rings the headset; lifting it answers the call, putting it down ends it.
TEST_F(HeadsetTest, TheHookAnswersTheRingingCallAndHangsItUp) {
    loginNotReady();
    TestHeadset headset;
    plugIn(headset);
    const auto call = switchboard.originate(kAgent, "5551234", "Customer");
    ASSERT_TRUE(call);
    ASSERT_TRUE(headset.waitForLights(TestHeadset::kRingLight, kWait)) << "the headset does not ring";

    const auto pressed = std::chrono::steady_clock::now();
    ASSERT_TRUE(headset.send(TestHeadset::kHook));
    ASSERT_TRUE(switchCallIs(*call, LabCallState::Answered)) << "the call was not answered";
    const double answered = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - pressed).count();
    RecordProperty("hook_press_to_answered_ms", std::to_string(answered));
    std::printf("hook press to answered call: %.1f ms\n", answered);
    EXPECT_TRUE(log.contains("HeadsetControls::onPress(): [off-hook] pressed on [Test Headset]"));
    ASSERT_TRUE(headset.waitForLights(TestHeadset::kOffHookLight, kWait));
    EXPECT_TRUE(labtone::present(audioAfter(*call, 1000ms), kAgentHertz, kCustomerHertz))
        << "the customer does not hear the agent";

    ASSERT_TRUE(headset.send(0));
    ASSERT_TRUE(switchCallIs(*call, LabCallState::Ended)) << "the call was not hung up";
    EXPECT_TRUE(onWire("HANGUP").rfind("HANGUP cause=Dumped Call", 0) == 0);
    ASSERT_TRUE(headset.waitForLights(0, kWait));
    EXPECT_EQ(core->stateMachine().state(), agent::AgentNotReady);
}

// A distributed call: mute holds and resumes it as the window's hold pair does, and the hook
// ends it as the Hang Up button does, into wrap-up.
TEST_F(HeadsetTest, MuteHoldsTheDistributedCallAndTheHookHangsItUpLikeTheButton) {
    loginNotReady();
    goReady();
    TestHeadset headset;
    plugIn(headset, true);
    cti.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, {}}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    ASSERT_TRUE(headset.waitForLights(TestHeadset::kOffHookLight, kWait));

    ASSERT_TRUE(headset.press(TestHeadset::kMute));
    EXPECT_EQ(sent("100,"), "100,0^" + kAgent + "^T1");
    EXPECT_EQ(onWire("QUELCH"), "QUELCH moh");
    ASSERT_TRUE(headset.waitForLights(TestHeadset::kOffHookLight | TestHeadset::kMuteLight, kWait));
    EXPECT_TRUE(window.control(Control::Hold).visible);
    EXPECT_FALSE(window.control(Control::Unhold).visible);
    ASSERT_TRUE(headset.press(TestHeadset::kMute));
    EXPECT_EQ(sent("101,"), "101,0^" + kAgent + "^T1");
    EXPECT_EQ(onWire("UNQUELCH"), "UNQUELCH");
    ASSERT_TRUE(headset.waitForLights(TestHeadset::kOffHookLight, kWait));

    switchboard.clearFrames();
    ASSERT_TRUE(headset.press(TestHeadset::kHook));
    EXPECT_EQ(sent("405,"), "405,0^" + kAgent);
    EXPECT_EQ(onWire("HANGUP").rfind("HANGUP cause=Dumped Call", 0), 0u);
    ASSERT_TRUE(waitForState(agent::AgentNotReady));
    EXPECT_EQ(sent("37,"), "37,T1^" + kAgent);
    EXPECT_TRUE(core->wrapUpChecker().inWrapUp());
    ASSERT_TRUE(headset.waitForLights(0, kWait));
}

// A virtual headset made by the kernel's user-space HID driver is found through hidraw and
// the kernel's device messages, like one plugged in.
TEST_F(HeadsetTest, AVirtualHeadsetPluggedInIsFoundAndLost) {
    const int uhid = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (uhid < 0) GTEST_SKIP() << "no usable /dev/uhid on this machine (" << std::strerror(errno) << "): skipped";
    core->initialize();
    uhid_event create{};
    create.type = UHID_CREATE2;
    std::strcpy(reinterpret_cast<char*>(create.u.create2.name), "Orvane Test Headset");
    const std::vector<std::uint8_t> descriptor = TestHeadset::descriptor();
    std::memcpy(create.u.create2.rd_data, descriptor.data(), descriptor.size());
    create.u.create2.rd_size = static_cast<std::uint16_t>(descriptor.size());
    create.u.create2.bus = BUS_USB;
    ASSERT_EQ(::write(uhid, &create, sizeof create), static_cast<ssize_t>(sizeof create));
    EXPECT_TRUE(eventually([&] { return core->headset().deviceCount() == 1; }))
        << "the virtual headset was not found";
    EXPECT_TRUE(log.mentions("Headset [/dev/hidraw"));
    uhid_event destroy{};
    destroy.type = UHID_DESTROY;
    ASSERT_EQ(::write(uhid, &destroy, sizeof destroy), static_cast<ssize_t>(sizeof destroy));
    EXPECT_TRUE(eventually([&] { return core->headset().deviceCount() == 0; })) << "the virtual headset was not lost";
    ::close(uhid);
}

}  // namespace
