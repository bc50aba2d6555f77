// What our IAX2 engine puts on the wire, decoded by an independent dissector (tshark): a
// registration with call token and MD5, a call with voice and DTMF, a hold and a hang-up.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "lab/common/LabTone.h"
#include "lab/switch/LabSwitch.h"
#include "lab/switch/LabWav.h"
#include "support/Shell.h"
#include "support/TempDir.h"
#include "support/TimeScale.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/MediaEngine.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kTsharkWait = 5s;

std::size_t count(const std::string& text, const std::string& part) {
    std::size_t found = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
    return found;
}

}  // namespace

TEST(IaxTshark, DecodesARegistrationACallWithDigitsAHoldAndAHangUpWithoutAMalformedPacket) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed (scripts/install-deps)";
    ScopedTimeScale timeScale(0.1);
    TempDir folder;
    const std::string capture = (folder.path() / "engine.pcap").string();
    const std::string microphone = (folder.path() / "microphone.wav").string();
    labwav::write(microphone, labtone::make(1000, 1.0));

    LabSwitchOptions options;
    options.users = {{"1001", "pw1001"}};
    options.callTokens = true;
    options.ringTime = 100ms;
    options.captureFile = capture;
    LabSwitch lab(options);
    ASSERT_TRUE(lab.start());
    {
        IaxVoiceEngine engine({"127.0.0.1", 0, supportedFormats()},
                              makeMediaEngine({AudioConfig::Backend::Virtual, microphone, "", ""}));
        ASSERT_EQ(engine.iaxc_initialize(3), 0);
        ASSERT_EQ(engine.iaxc_start_processing_thread(), 0);
        const std::string host = "127.0.0.1:" + std::to_string(lab.port());
        engine.iaxc_register("1001", "pw1001", host);
        ASSERT_TRUE(lab.waitForRegistration("1001", kTsharkWait));
        ASSERT_EQ(engine.iaxc_call("1001@" + host + "/ZQ1001"), 0);
        ASSERT_TRUE(lab.waitForCall([](const LabCallInfo& call) { return call.state == LabCallState::Answered; }, kTsharkWait));
        std::this_thread::sleep_for(300ms);  // voice both ways
        for (const char digit : std::string("12#")) engine.iaxc_send_dtmf(digit);
        ASSERT_TRUE(lab.waitFor("DTMF #", kTsharkWait));
        engine.iaxc_quelch(0, 1);
        ASSERT_TRUE(lab.waitFor("QUELCH", kTsharkWait));
        engine.iaxc_unquelch(0);
        ASSERT_TRUE(lab.waitFor("UNQUELCH", kTsharkWait));
        engine.iaxc_dump_call();
        ASSERT_TRUE(lab.waitFor("HANGUP", kTsharkWait));
        engine.iaxc_unregister_user("1001", "pw1001", host);
        ASSERT_TRUE(lab.waitForUnregistration("1001", kTsharkWait));
    }
    lab.stop();

    const std::string port = std::to_string(lab.port());
    const std::string summary = commandOutput("tshark -r " + capture + " -d udp.port==" + port + ",iax2 2>&1");
    const std::string details = commandOutput("tshark -r " + capture + " -d udp.port==" + port + ",iax2 -V 2>&1");
    EXPECT_EQ(count(summary, "Malformed"), 0u) << summary;
    EXPECT_EQ(count(details, "[Expert Info (Error"), 0u) << details;
    for (const char* frame : {"REGREQ", "REGAUTH", "REGACK", "NEW", "AUTHREP", "ANSWER", "DTMF", "QUELCH",
                              "UNQULCH" /* tshark's own spelling */, "HANGUP", "REGREL"})
        EXPECT_GE(count(summary, frame), 1u) << frame << " missing in:\n" << summary;
    EXPECT_GE(count(summary, "Mini packet"), 10u) << "no voice in mini frames";
    EXPECT_GE(count(details, "Dumped Call"), 1u) << "the hang-up cause is not decoded";
}
