#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "AgentVocabulary.h"
#include "agent/AgentButtons.h"
#include "core/AgentTables.h"
#include "agent/CImplementation.h"
#include "agent/HeadlessAgentWindow.h"
#include "agent/LoginEntries.h"
#include "support/FakeBrowserView.h"
#include "infra/SettingsStore.h"
#include "infra/Timing.h"
#include "lab/cti/LabCtiServer.h"
#include "support/FakeVoiceEngine.h"
#include "support/Eventually.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TimeScale.h"

using namespace std::chrono_literals;

// A headless phone with a scripted voice engine, logging in to the lab CTI server on
// loopback, with every interval scaled down a hundred times.
class PhoneFixture : public ::testing::Test {
protected:
    static constexpr auto kWait = 5s;

    PhoneFixture() {
        SettingsStore::useFolder(settingsFolder.str());
        server.configure([](LabCtiOptions& options) { options.notReadyPairWindow = 20s; });
        EXPECT_TRUE(server.start());
    }

    // For tests where a peer's answer must beat a wait of the phone (the remote dial's track
    // number, the consult answer): a hundredth of the real wait is too short on a loaded
    // machine, a tenth is not.
    void peerAnswerWaitsLongEnough() { timeScale.set(0.1); }

    // Start-up to Agent-Logged-Out.
    void startPhone() {
        core.initialize();
        ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    }

    void clickLogin(const std::string& agentId = "1001", const std::string& password = "pw") {
        ASSERT_TRUE(buttons.OnBnClickedButtonLogin({agentId, password, "127.0.0.1", std::to_string(server.port())}));
    }

    // Login as far as the registration the switch accepts: Agent-Not-Ready.
    void loginNotReady() {
        startPhone();
        clickLogin();
        ASSERT_TRUE(waitForState(agent::AgentLoggingInWhithNotReady));
        ASSERT_TRUE(eventually([&] { return voice.has("register 1001 pw 127.0.0.1:4569"); }));
        voice.emitResult(VoiceEvent::RegistrationAccepted, "Registration accepted");
        ASSERT_TRUE(waitForState(agent::AgentNotReady));
    }

    // From Agent-Not-Ready: the Ready button, the agent channel answered, Agent-Ready.
    void goReady() {
        server.clearReceived();
        buttons.OnBnClickedButtonReady();
        ASSERT_TRUE(waitForState(agent::AgentGoingReadyInProgress));
        ASSERT_TRUE(eventually([&] { return voice.has("call_on_line 0 1001@127.0.0.1:4569/ZQ1001"); }));
        answerLine(0);
        ASSERT_TRUE(waitForState(agent::AgentReady));
    }

    void answerLine(int callNo) { voice.emitState(callNo, VoiceEvent::Active | VoiceEvent::Complete); }
    void hangUpLine(int callNo) { voice.emitState(callNo, 0); }

    bool waitForState(int state, std::chrono::milliseconds timeout = kWait) {
        return reachesState(core.stateMachine(), state, timeout);
    }
    static bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = kWait) {
        return ::eventually(done, timeout);
    }

    // The bytes of the phone's own log lines; the lab peers write theirs into the same log.
    std::size_t phoneLogBytes() const {
        std::size_t bytes = 0;
        for (const std::string& line : log.lines())
            if (LogCapture::messageOf(line).rfind("Lab", 0) != 0) bytes += line.size();
        return bytes;
    }

    std::string sent(const std::string& prefix) { return server.waitFor(prefix, kWait).value_or("<nothing>"); }
    // The ticker showed `text` (the message centre clears it again within its idle pause).
    bool tickerShowed(const std::string& text) {
        return eventually([&] { return log.contains("Ticker text was change for [" + text + "]"); });
    }

    ScopedTimeScale timeScale{0.01};
    TempDir settingsFolder;
    LogCapture log;
    LabCtiServer server;
    HeadlessAgentWindow window{"Orvane"};
    EventQueue queue;
    FakeVoiceEngine voice;
    FakeBrowserView browser;
    CImplementation core{{window, queue, voice, browser, 0}};
    AgentButtons buttons{core.buttonServices(), window};
};
