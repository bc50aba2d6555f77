#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "desktop/HeadsetControls.h"
#include "desktop/HeadsetDevice.h"
#include "desktop/HidReportDescriptor.h"
#include "desktop/HidrawDevices.h"
#include "support/Eventually.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestHeadset.h"
#include "support/TimeScale.h"

using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A kernel message with its zero separators.
template <std::size_t N>
std::string uevent(const char (&text)[N]) {
    return std::string(text, N - 1);
}

std::optional<HidReportLayout> parsed(const Bytes& descriptor) {
    std::string error;
    return parseHidReportDescriptor(descriptor, error);
}

std::string errorOf(const Bytes& descriptor) {
    std::string error;
    EXPECT_FALSE(parseHidReportDescriptor(descriptor, error)) << "accepted";
    return error;
}

TEST(HidReportDescriptorTest, ATelephonyHeadsetsControlsAndLightsAreFoundWithTheirPlaces) {
    const auto layout = parsed(TestHeadset::descriptor());
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->numberedReports);
    EXPECT_TRUE(layout->hasHookSwitch());
    ASSERT_EQ(layout->inputs.size(), 3u);
    EXPECT_EQ(layout->inputs[0].usage, hid::kHookSwitch);
    EXPECT_FALSE(layout->inputs[0].relative);
    EXPECT_EQ(layout->inputs[1].usage, hid::kPhoneMute);
    EXPECT_EQ(layout->inputs[1].bitOffset, 1u);
    EXPECT_TRUE(layout->inputs[1].relative);
    EXPECT_EQ(layout->inputs[2].usage, hid::kFlash);
    EXPECT_EQ(layout->inputs[2].reportId, 1);
    ASSERT_EQ(layout->lights.size(), 3u);
    EXPECT_EQ(layout->lights[0].usage, hid::kOffHookLed);
    EXPECT_EQ(layout->lights[1].usage, hid::kMuteLed);
    EXPECT_EQ(layout->lights[2].bitOffset, 2u);
    EXPECT_EQ(layout->lights[2].reportId, 2);
    EXPECT_EQ(layout->outputReportBitsOf(2), 8u);
}

TEST(HidReportDescriptorTest, HostileDescriptorsAreRefusedWithAReason) {
    EXPECT_EQ(errorOf({0x05}), "item cut short at byte 0");
    EXPECT_EQ(errorOf({0xB4}), "pop without a push");
    EXPECT_EQ(errorOf({0xC0}), "end of a collection never opened");
    EXPECT_EQ(errorOf({0x85, 0x00}), "report id 0");
    EXPECT_EQ(errorOf({0xFE}), "long item cut short");
    EXPECT_EQ(errorOf({0xFE, 0x10, 0x00, 0x01}), "long item cut short");
    // 4096 reports of 32 bits: longer than any report the phone reads.
    EXPECT_EQ(errorOf({0x75, 0x20, 0x97, 0x00, 0x10, 0x00, 0x00, 0x81, 0x02}), "report 0 longer than 1024 bytes");
    // A count near 2^32 must not wrap the report's length.
    EXPECT_EQ(errorOf({0x75, 0x20, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02}), "report 0 longer than 1024 bytes");
    EXPECT_EQ(errorOf({0x85, 0x01, 0x81, 0x02, 0x85, 0x01, 0xB4}), "pop without a push");
    Bytes deep(33 * 2);
    for (std::size_t i = 0; i < deep.size(); i += 2) deep[i] = 0xA1;
    EXPECT_EQ(errorOf(deep), "collections nested too deep");
    Bytes pushes(9, 0xA4);
    EXPECT_EQ(errorOf(pushes), "global items pushed too deep");
    EXPECT_EQ(errorOf(Bytes(hid::kLongestDescriptor + 1, 0)), "descriptor of 4097 bytes");
}

TEST(HidReportDescriptorTest, UsagesTakeThePageInForceAtTheMainItemOrCarryTheirOwn) {
    // Extended usage (page in the upper half), a usage range, and a keyboard page left alone.
    const auto layout = parsed({0x05, 0x07, 0x0B, 0x20, 0x00, 0x0B, 0x00, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02,  //
                                0x05, 0x0B, 0x19, 0x20, 0x29, 0x21, 0x95, 0x02, 0x81, 0x02,                     //
                                0x05, 0x07, 0x09, 0x20, 0x81, 0x02});
    ASSERT_TRUE(layout);
    ASSERT_EQ(layout->inputs.size(), 3u);
    EXPECT_EQ(layout->inputs[0].usage, hid::kHookSwitch);
    EXPECT_EQ(layout->inputs[1].usage, hid::kHookSwitch);
    EXPECT_EQ(layout->inputs[2].usage, hid::kFlash);
    EXPECT_EQ(layout->inputs[2].bitOffset, 2u);
    EXPECT_FALSE(layout->numberedReports);
}

// One end of a socket pair as the device, the test's end to play reports on.
struct Wire {
    Wire() { ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends); }
    ~Wire() { ::close(ends[1]); }
    int ends[2] = {-1, -1};
};

TEST(HeadsetDeviceTest, AnAbsoluteHookGivesItsMovesAndRelativeButtonsTheirPresses) {
    Wire wire;
    HeadsetDevice device(wire.ends[0], "test", *parsed(TestHeadset::descriptor()));
    using P = HeadsetPress;
    EXPECT_EQ(device.decode(Bytes{1, 0}), std::vector<P>{});
    EXPECT_EQ(device.decode(Bytes{1, 1}), std::vector<P>{P::OffHook});
    EXPECT_EQ(device.decode(Bytes{1, 1}), std::vector<P>{});  // still off the hook
    EXPECT_EQ(device.decode(Bytes{1, 1 | 2}), std::vector<P>{P::Mute});
    EXPECT_EQ(device.decode(Bytes{1, 1 | 2}), std::vector<P>{P::Mute});  // relative: each report is a press
    EXPECT_EQ(device.decode(Bytes{1, 4}), (std::vector<P>{P::OnHook, P::Flash}));
    EXPECT_EQ(device.decode(Bytes{1, 4}), std::vector<P>{});  // flash held down
    EXPECT_EQ(device.decode(Bytes{2, 1}), std::vector<P>{});  // another report's id
    EXPECT_EQ(device.decode(Bytes{1}), std::vector<P>{});     // cut short
    EXPECT_EQ(device.decode(Bytes{}), std::vector<P>{});

    HeadsetDevice relative(::dup(wire.ends[0]), "relative", *parsed(TestHeadset::descriptor(true)));
    EXPECT_EQ(relative.decode(Bytes{1, 1}), std::vector<P>{P::HookPress});
    EXPECT_EQ(relative.decode(Bytes{1, 0}), std::vector<P>{});
    EXPECT_EQ(relative.decode(Bytes{1, 1}), std::vector<P>{P::HookPress});
}

TEST(HeadsetDeviceTest, AHookSwitchInAnArrayIsOnWhileASlotNamesIt) {
    // Two 8-bit slots naming Hook Switch (1), Flash (2) or nothing (0).
    const Bytes descriptor = {0x05, 0x0B, 0x15, 0x01, 0x25, 0x02, 0x75, 0x08, 0x95, 0x02,
                              0x09, 0x20, 0x09, 0x21, 0x81, 0x00};
    const auto layout = parsed(descriptor);
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->hasHookSwitch());
    Wire wire;
    HeadsetDevice device(wire.ends[0], "array", *layout);
    using P = HeadsetPress;
    EXPECT_EQ(device.decode(Bytes{0, 1}), std::vector<P>{P::OffHook});
    EXPECT_EQ(device.decode(Bytes{2, 1}), std::vector<P>{P::Flash});
    EXPECT_EQ(device.decode(Bytes{0, 0}), std::vector<P>{P::OnHook});
    EXPECT_EQ(device.decode(Bytes{9, 200}), std::vector<P>{});  // values naming nothing
}

TEST(HeadsetDeviceTest, LightsGoOutAsTheOutputReportOnlyWhenTheyChange) {
    TestHeadset headset;
    HeadsetDevice device(headset.takePhoneEnd(), "test", *parsed(TestHeadset::descriptor()));
    device.show({true, false, true});
    ASSERT_TRUE(headset.waitForLights(TestHeadset::kOffHookLight | TestHeadset::kMuteLight, 5s));
    device.show({true, false, true});
    device.show({false, true, false});
    ASSERT_TRUE(headset.waitForLights(TestHeadset::kRingLight, 5s));
    EXPECT_EQ(headset.lightReports(), 2);
}

TEST(HidrawDevicesTest, KernelMessagesAboutHidrawDevicesAreRead) {
    const std::string added = uevent("add@/devices/usb1/1-1/0003:0B0E:0348.0004/hidraw/hidraw3\0ACTION=add\0"
                                     "DEVPATH=/devices/usb1/1-1/0003:0B0E:0348.0004/hidraw/hidraw3\0SUBSYSTEM=hidraw\0"
                                     "MAJOR=241\0MINOR=3\0DEVNAME=hidraw3\0SEQNUM=4711");
    const auto change = HidrawDevices::parseUevent(added);
    ASSERT_TRUE(change);
    EXPECT_TRUE(change->added);
    EXPECT_EQ(change->name, "hidraw3");
    const std::string removed("remove@/x\0ACTION=remove\0SUBSYSTEM=hidraw\0DEVNAME=/dev/hidraw12", 63);
    EXPECT_FALSE(HidrawDevices::parseUevent(removed)->added);
    EXPECT_EQ(HidrawDevices::parseUevent(removed)->name, "hidraw12");
    EXPECT_FALSE(HidrawDevices::parseUevent(uevent("add@/x\0ACTION=add\0SUBSYSTEM=input\0DEVNAME=input3")));
    EXPECT_FALSE(HidrawDevices::parseUevent(uevent("ACTION=add\0SUBSYSTEM=hidraw\0DEVNAME=../sda")));
    EXPECT_FALSE(HidrawDevices::parseUevent(uevent("libudev\0\xfe\xed")));
}

TEST(HidrawDevicesTest, PresentDevicesAndTheirDescriptorsComeFromTheirFolders) {
    TempDir folder;
    for (const char* name : {"hidraw1", "hidraw0", "input2"})
        std::filesystem::create_directories(folder.path() / name / "device");
    const Bytes descriptor = TestHeadset::descriptor();
    std::ofstream(folder.path() / "hidraw1" / "device" / "report_descriptor", std::ios::binary)
        .write(reinterpret_cast<const char*>(descriptor.data()), static_cast<std::streamsize>(descriptor.size()));
    HidrawDevices devices(folder.str(), "/nowhere");
    EXPECT_EQ(devices.present(), (std::vector<std::string>{"hidraw0", "hidraw1"}));
    EXPECT_EQ(devices.reportDescriptor("hidraw1"), descriptor);
    EXPECT_TRUE(devices.reportDescriptor("hidraw0").empty());
    EXPECT_TRUE(devices.reportDescriptor("../hidraw1").empty());
    EXPECT_EQ(devices.nodePath("hidraw1"), "/nowhere/hidraw1");
}

// The agent side of the headset, scripted.
class ScriptedAgent : public HeadsetControls::Agent {
public:
    HeadsetControls::CallView headsetCallView() override {
        std::lock_guard guard(lock_);
        return view_;
    }
    void answerLine(int line) override { record("answer " + std::to_string(line)); }
    void dropLine(int line) override { record("drop " + std::to_string(line)); }
    void hangUp() override { record("hang up"); }
    void toggleHold() override { record("hold"); }

    void set(const std::function<void(HeadsetControls::CallView&)>& change) {
        std::lock_guard guard(lock_);
        change(view_);
    }
    std::vector<std::string> done() const {
        std::lock_guard guard(lock_);
        return done_;
    }

private:
    void record(const std::string& what) {
        std::lock_guard guard(lock_);
        done_.push_back(what);
    }
    mutable std::mutex lock_;
    HeadsetControls::CallView view_;
    std::vector<std::string> done_;
};

class HeadsetControlsTest : public ::testing::Test {
protected:
    HeadsetControlsTest() {
        controls.start();
        EXPECT_TRUE(controls.addDevice(headset.takePhoneEnd(), TestHeadset::descriptor(), "Test Headset"));
    }
    bool didAfter(std::size_t count) {
        return eventually([&] { return agent.done().size() >= count; }, 5s);
    }

    ScopedTimeScale timeScale{0.05};
    LogCapture log;
    TempDir folder;
    ScriptedAgent agent;
    TestHeadset headset;
    HeadsetControls controls{agent, std::make_unique<HidrawDevices>(folder.str(), folder.str())};
};

TEST_F(HeadsetControlsTest, TheHookAnswersTheRingingLineAndHangsUpWhatItAnswered) {
    EXPECT_TRUE(log.contains("HeadsetControls::addDevice(): Headset [Test Headset] found"));
    agent.set([](auto& view) { view.ringingLine = 0; });
    ASSERT_TRUE(headset.waitForLights(TestHeadset::kRingLight, 5s));
    headset.send(TestHeadset::kHook);
    ASSERT_TRUE(didAfter(1));
    agent.set([](auto& view) {
        view.ringingLine = -1;
        view.lineUp[0] = true;
    });
    ASSERT_TRUE(headset.waitForLights(TestHeadset::kOffHookLight, 5s));
    headset.send(0);
    ASSERT_TRUE(didAfter(2));
    EXPECT_EQ(agent.done(), (std::vector<std::string>{"answer 0", "drop 0"}));
    EXPECT_TRUE(log.contains("HeadsetControls::onPress(): [off-hook] pressed on [Test Headset]"));
}

TEST_F(HeadsetControlsTest, InACallTheHookHangsUpWithTheButtonAndMuteHoldsTheCall) {
    headset.send(TestHeadset::kHook);  // lifted with nothing ringing: nothing to do
    agent.set([](auto& view) {
        view.inCall = true;
        view.lineUp[0] = true;
    });
    ASSERT_TRUE(headset.waitForLights(TestHeadset::kOffHookLight, 5s));
    headset.send(TestHeadset::kHook | TestHeadset::kMute);
    headset.send(TestHeadset::kHook);
    ASSERT_TRUE(didAfter(1));
    agent.set([](auto& view) { view.held = true; });
    ASSERT_TRUE(headset.waitForLights(TestHeadset::kOffHookLight | TestHeadset::kMuteLight, 5s));
    headset.send(TestHeadset::kHook | TestHeadset::kFlash);
    headset.send(0);  // on the hook
    ASSERT_TRUE(didAfter(2));
    EXPECT_EQ(agent.done(), (std::vector<std::string>{"hold", "hang up"}));
    EXPECT_TRUE(log.contains("HeadsetControls::answer(): No line is ringing"));
    EXPECT_TRUE(log.contains("HeadsetControls::onPress(): Flash is not used"));
}

TEST_F(HeadsetControlsTest, AnUnpluggedHeadsetIsLostAndAnotherThatIsNoHeadsetIsRefused) {
    headset.unplug();
    ASSERT_TRUE(log.waitFor("HeadsetControls::readDevice(): Headset [Test Headset] lost", 5s));
    EXPECT_TRUE(eventually([&] { return controls.deviceCount() == 0; }, 5s));
    TestHeadset mouse;
    EXPECT_FALSE(controls.addDevice(mouse.takePhoneEnd(), Bytes{0x05, 0x01, 0x09, 0x30, 0x81, 0x02}, "Mouse"));
    TestHeadset broken;
    EXPECT_FALSE(controls.addDevice(broken.takePhoneEnd(), Bytes{0xC0}, "Broken"));
    EXPECT_TRUE(log.contains(
        "HeadsetControls::addDevice(): The report descriptor of [Broken] is not valid: end of a collection never opened"));
    EXPECT_EQ(controls.deviceCount(), 0u);
}

TEST_F(HeadsetControlsTest, ARelativeHookAnswersThenHangsUp) {
    TestHeadset relative;
    ASSERT_TRUE(controls.addDevice(relative.takePhoneEnd(), TestHeadset::descriptor(true), "Relative"));
    agent.set([](auto& view) { view.ringingLine = 1; });
    relative.press(TestHeadset::kHook);
    ASSERT_TRUE(didAfter(1));
    agent.set([](auto& view) {
        view.ringingLine = -1;
        view.inCall = true;
    });
    relative.press(TestHeadset::kHook);
    ASSERT_TRUE(didAfter(2));
    EXPECT_EQ(agent.done(), (std::vector<std::string>{"answer 1", "hang up"}));
}

}  // namespace
