#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QTest>
#include <chrono>
#include <memory>
#include <string>

#include "AgentVocabulary.h"
#include "agent/CImplementation.h"
#include "agent/HeadlessAgentWindow.h"
#include "core/AgentTables.h"
#include "core/EventQueue.h"
#include "support/FakeBrowserView.h"
#include "infra/SettingsStore.h"
#include "infra/Timing.h"
#include "lab/cti/LabCtiServer.h"
#include "support/FakeVoiceEngine.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "ui/COrvaneDlg.h"
#include "ShownView.h"

using namespace std::chrono_literals;

// Hands every call of the agent core to two windows: the Qt bar, which answers the questions,
// and the headless window, which keeps the model the bar is compared with.
class TeeWindow : public AgentWindow {
public:
    TeeWindow(AgentWindow& shown, HeadlessAgentWindow& model) : shown_(shown), model_(model) {}

    bool controlExists(Control c) const override { return shown_.controlExists(c); }
    void enableControl(Control c, bool enabled) override { both([&](AgentWindow& w) { w.enableControl(c, enabled); }); }
    void showControl(Control c, bool visible) override { both([&](AgentWindow& w) { w.showControl(c, visible); }); }
    bool windowClosing() const override { return shown_.windowClosing(); }
    void setWindowClosing() override { both([](AgentWindow& w) { w.setWindowClosing(); }); }
    std::string titlePrefix() const override { return shown_.titlePrefix(); }
    void setStatusText(const std::string& t) override { both([&](AgentWindow& w) { w.setStatusText(t); }); }
    void setCaption(const std::string& t) override { both([&](AgentWindow& w) { w.setCaption(t); }); }
    void disableAllButtons() override { both([](AgentWindow& w) { w.disableAllButtons(); }); }
    void hideAttachedDataWindow() override { both([](AgentWindow& w) { w.hideAttachedDataWindow(); }); }
    void refreshAttachedDataWindow() override { both([](AgentWindow& w) { w.refreshAttachedDataWindow(); }); }
    void showTicker(const TickerText& t) override { both([&](AgentWindow& w) { w.showTicker(t); }); }
    void showCallTimer(const std::string& t, std::uint32_t c) override {
        both([&](AgentWindow& w) { w.showCallTimer(t, c); });
    }
    void openDialPad() override { shown_.openDialPad(); }
    void openPreviewDial() override { shown_.openPreviewDial(); }
    void closeDialWindow() override { shown_.closeDialWindow(); }
    bool dialWindowOpen() const override { return shown_.dialWindowOpen(); }
    void closeCompleteConferenceWindow() override { shown_.closeCompleteConferenceWindow(); }
    using AgentWindow::runDialWindow;
    DialWindowResult runDialWindow(const std::string& title, const std::string& number) override {
        return shown_.runDialWindow(title, number);
    }
    bool runCompleteConferenceDialog(ConferenceButtons& buttons, int line) override {
        return shown_.runCompleteConferenceDialog(buttons, line);
    }
    void setNotReadyReasons(const std::vector<std::string>& r) override {
        both([&](AgentWindow& w) { w.setNotReadyReasons(r); });
    }
    void showMessageBox(const std::string& t, const std::string& c) override { shown_.showMessageBox(t, c); }
    void closeWindow() override { both([](AgentWindow& w) { w.closeWindow(); }); }

private:
    template <class F>
    void both(F&& call) {
        call(model_);
        call(shown_);
    }
    AgentWindow& shown_;
    HeadlessAgentWindow& model_;
};

// The Qt bar over the agent core with a scripted voice engine, logging in to the lab CTI
// server on loopback; the headless window watches every call the core makes. Intervals run
// at a hundredth of their length.
class BarFixture : public ::testing::Test {
protected:
    static constexpr int kWaitMs = 5000;

    BarFixture() {
        Timing::setScale(0.01);
        SettingsStore::useFolder(folder.str());
        server.configure([](LabCtiOptions& options) { options.notReadyPairWindow = 20s; });
        EXPECT_TRUE(server.start());
        bar = std::make_unique<COrvaneDlg>([this](AgentWindow& shown) {
            tee = std::make_unique<TeeWindow>(shown, model);
            return std::make_unique<CImplementation>(CImplementation::Seams{*tee, queue, voice, browser, 0});
        });
    }
    ~BarFixture() override {
        bar.reset();
        Timing::setScale(previousScale);
    }

    CImplementation& core() { return *bar->core(); }

    void startBar() {
        bar->show();
        bar->OnInitDialog();
        ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    }
    void loginNotReady() {
        startBar();
        bar->loginWith({"1001", "pw", "127.0.0.1", std::to_string(server.port())});
        ASSERT_TRUE(waitForState(agent::AgentLoggingInWhithNotReady));
        ASSERT_TRUE(eventuallyOnScreen([&] { return voice.has("register 1001 pw 127.0.0.1:4569"); }));
        voice.emitResult(VoiceEvent::RegistrationAccepted, "Registration accepted");
        ASSERT_TRUE(waitForState(agent::AgentNotReady));
    }
    void goReady() {
        click(Control::Ready);
        ASSERT_TRUE(waitForState(agent::AgentGoingReadyInProgress));
        ASSERT_TRUE(eventuallyOnScreen([&] { return voice.has("call_on_line 0 1001@127.0.0.1:4569/ZQ1001"); }));
        voice.emitState(0, VoiceEvent::Active | VoiceEvent::Complete);
        ASSERT_TRUE(waitForState(agent::AgentReady));
    }
    void takeCall(const std::string& trackNumber, std::vector<labcti::AttachedGroup> data = {}) {
        server.push(labcti::queueDistribute({trackNumber, "2026.12.08.10.00.00", "5551234", "", std::nullopt, data}));
        ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    }

    // A click on one of the bar's buttons, once the window shows it usable.
    void click(Control id) {
        QWidget* button = bar->control(id);
        ASSERT_TRUE(eventuallyOnScreen([&] { return button->isVisible() && button->isEnabled(); }))
            << "control " << static_cast<int>(id) << " is not usable";
        QTest::mouseClick(button, Qt::LeftButton);
    }

    bool waitForState(int state) {
        if (eventuallyOnScreen([&] { return core().stateMachine().state() == state; }, kWaitMs)) return true;
        const int now = core().stateMachine().state();
        ADD_FAILURE() << "expected " << agent::StateNames[state] << ", still in "
                      << (now >= 0 ? agent::StateNames[now] : "not started");
        return false;
    }

    // A picture of a window in the build's screenshots folder.
    static void screenshot(QWidget& window, const QString& name) {
        QDir().mkpath(QStringLiteral(ORVANE_SCREENSHOT_DIR));
        QCoreApplication::processEvents();
        EXPECT_TRUE(window.grab().save(QStringLiteral(ORVANE_SCREENSHOT_DIR "/") + name + QStringLiteral(".png")));
    }

    const double previousScale = Timing::scale();
    TempDir folder;
    LogCapture log;
    LabCtiServer server;
    HeadlessAgentWindow model{"Orvane"};
    EventQueue queue;
    FakeVoiceEngine voice;
    FakeBrowserView browser;
    std::unique_ptr<TeeWindow> tee;
    std::unique_ptr<COrvaneDlg> bar;
};
