#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AgentVocabulary.h"
#include "agent/AgentButtons.h"
#include "core/AgentTables.h"
#include "agent/CImplementation.h"
#include "agent/HeadlessAgentWindow.h"
#include "agent/LoginEntries.h"
#include "support/FakeBrowserView.h"
#include "infra/SettingsStore.h"
#include "infra/Timing.h"
#include "lab/common/LabTone.h"
#include "lab/cti/LabCtiServer.h"
#include "lab/switch/LabSwitch.h"
#include "lab/switch/LabWav.h"
#include "recording/RecordingStore.h"
#include "support/Eventually.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TimeScale.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/MediaEngine.h"

using namespace std::chrono_literals;

// The whole phone as it runs: the agent core on our IAX2 engine with virtual audio devices,
// logged in to the lab CTI server and registered with the lab switch, on loopback. Intervals
// run at a tenth of their production length; audio runs in real time. The agent's microphone
// says a 1000 Hz tone; the switch's far parties say 440 Hz unless a test chooses otherwise.
class LivePhoneFixture : public ::testing::Test {
protected:
    static constexpr auto kWait = 10s;
    static constexpr double kAgentHertz = 1000;
    static constexpr double kCustomerHertz = LabSwitchOptions::kFarPartyToneHertz;
    static constexpr double kMusicOnHoldHertz = LabSwitchOptions::kMusicOnHoldHertz;
    static inline const std::string kAgent = "1001";
    static inline const std::string kPassword = "pw1001";

    LivePhoneFixture() {
        SettingsStore::useFolder(folder.str());
        RecordingStore::useFolder(file("recordings"));
        labwav::write(file("microphone.wav"), labtone::make(kAgentHertz, 2.0));

        switchboard.configure([](LabSwitchOptions& options) {
            options.users[kAgent] = kPassword;
            options.callTokens = true;
            options.ringTime = 500ms;
        });
        EXPECT_TRUE(switchboard.start());
        cti.configure([&](LabCtiOptions& options) {
            options.switchInfo = labcti::SwitchInfo{"127.0.0.1", std::to_string(switchboard.port())};
            options.loginSettings.wrapUp = {"NOT_READY", "30", "1"};
            options.notReadyPairWindow = 20s;
        });
        EXPECT_TRUE(cti.start());
    }
    ~LivePhoneFixture() override {
        buttons.reset();
        core.reset();  // before the engine it runs on
        voice.reset();
        RecordingStore::useFolder({});
    }

    std::string file(const std::string& name) const { return (folder.path() / name).string(); }

    // Start-up and login to Agent-Not-Ready: the switch registration is real.
    void loginNotReady() {
        core->initialize();
        ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
        ASSERT_TRUE(buttons->OnBnClickedButtonLogin({kAgent, kPassword, "127.0.0.1", std::to_string(cti.port())}));
        ASSERT_TRUE(switchboard.waitForRegistration(kAgent, kWait));
        ASSERT_TRUE(waitForState(agent::AgentNotReady));
    }

    // The Ready button; the switch answers the agent channel. Its call id.
    int goReady() {
        cti.clearReceived();
        buttons->OnBnClickedButtonReady();
        const auto channel = waitForSwitchCall([](const LabCallInfo& call) {
            return call.called == "ZQ" + kAgent && call.state == LabCallState::Answered;
        });
        EXPECT_TRUE(channel) << "the agent channel was not answered";
        EXPECT_TRUE(waitForState(agent::AgentReady));
        return channel ? channel->id : -1;
    }

    std::optional<LabCallInfo> waitForSwitchCall(const LabSwitch::CallMatch& match) {
        return switchboard.waitForCall(match, kWait);
    }
    // Waits until the call has been in its state for `seconds` of audio.
    std::vector<std::int16_t> audioAfter(int callId, std::chrono::milliseconds talk) {
        std::this_thread::sleep_for(talk);
        return switchboard.receivedAudio(callId);
    }
    std::vector<std::int16_t> speaker() const {
        std::string error;
        return labwav::read(file("speaker.wav"), error).value_or(std::vector<std::int16_t>{});
    }
    // The last `seconds` of what the agent heard.
    std::vector<std::int16_t> speakerTail(double seconds) const {
        std::vector<std::int16_t> all = speaker();
        const auto keep = static_cast<std::size_t>(seconds * 8000);
        if (all.size() > keep) all.erase(all.begin(), all.end() - static_cast<std::ptrdiff_t>(keep));
        return all;
    }

    bool waitForState(int state, std::chrono::milliseconds timeout = kWait) {
        return reachesState(core->stateMachine(), state, timeout);
    }
    static bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = kWait) {
        return ::eventually(done, timeout);
    }
    std::string sent(const std::string& prefix) { return cti.waitFor(prefix, kWait).value_or("<nothing>"); }
    std::string onWire(const std::string& prefix) { return switchboard.waitFor(prefix, kWait).value_or("<nothing>"); }

    ScopedTimeScale timeScale{0.1};
    TempDir folder;
    LogCapture log;
    LabSwitch switchboard;
    LabCtiServer cti;
    HeadlessAgentWindow window{"Orvane"};
    EventQueue queue;
    FakeBrowserView browser;
    std::unique_ptr<IaxVoiceEngine> voice = std::make_unique<IaxVoiceEngine>(
        IaxEngineConfig{"127.0.0.1", 0, supportedFormats()},
        makeMediaEngine({AudioConfig::Backend::Virtual, file("microphone.wav"), file("speaker.wav"), file("ring.wav")}));
    std::unique_ptr<CImplementation> core =
        std::make_unique<CImplementation>(CImplementation::Seams{window, queue, *voice, browser, 0});
    std::unique_ptr<AgentButtons> buttons = std::make_unique<AgentButtons>(core->buttonServices(), window);
};
