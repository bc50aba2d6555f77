// The windowed phone as an agent uses it: our IAX2 engine with virtual audio, the lab switch
// and the lab CTI server on loopback, and every step a click on the bar.

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "AgentVocabulary.h"
#include "agent/CImplementation.h"
#include "core/AgentTables.h"
#include "core/EventQueue.h"
#include "support/FakeBrowserView.h"
#include "infra/SettingsStore.h"
#include "infra/Timing.h"
#include "lab/common/LabTone.h"
#include "lab/cti/LabCtiServer.h"
#include "lab/switch/LabSwitch.h"
#include "lab/switch/LabWav.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "ui/COrvaneDlg.h"
#include "ui/CPreferencesDlg.h"
#include "ShownView.h"
#include "voice/engine/iax/IaxVoiceEngine.h"
#include "voice/engine/media/Codec.h"
#include "voice/engine/media/MediaEngine.h"

namespace {

using namespace std::chrono_literals;

class WindowedCallTest : public ::testing::Test {
protected:
    static constexpr auto kWait = 10s;
    static inline const std::string kAgent = "1001";

    WindowedCallTest() {
        Timing::setScale(0.1);
        SettingsStore::useFolder(folder.str());
        labwav::write(file("microphone.wav"), labtone::make(1000, 2.0));
        switchboard.configure([](LabSwitchOptions& options) {
            options.users[kAgent] = "pw1001";
            options.callTokens = true;
            options.ringTime = 300ms;
        });
        EXPECT_TRUE(switchboard.start());
        cti.configure([&](LabCtiOptions& options) {
            options.switchInfo = labcti::SwitchInfo{"127.0.0.1", std::to_string(switchboard.port())};
            options.loginSettings.wrapUp = {"NOT_READY", "30", "1"};
            options.notReadyPairWindow = 20s;
        });
        EXPECT_TRUE(cti.start());
    }
    ~WindowedCallTest() override {
        bar.reset();
        voice.reset();
        Timing::setScale(previousScale);
    }

    std::string file(const std::string& name) const { return (folder.path() / name).string(); }
    CImplementation& core() { return *bar->core(); }
    bool reaches(int state) {
        const bool reached = eventuallyOnScreen([&] { return core().stateMachine().state() == state; }, 10000);
        if (!reached) ADD_FAILURE() << "expected " << agent::StateNames[state];
        return reached;
    }
    void click(Control id) {
        QWidget* button = bar->control(id);
        ASSERT_TRUE(eventuallyOnScreen([&] { return button->isVisible() && button->isEnabled(); }, 10000))
            << "control " << static_cast<int>(id) << " never became usable";
        QTest::mouseClick(button, Qt::LeftButton);
    }
    std::string sent(const std::string& prefix) { return cti.waitFor(prefix, kWait).value_or("<nothing>"); }

    const double previousScale = Timing::scale();
    TempDir folder;
    LogCapture log;
    LabSwitch switchboard;
    LabCtiServer cti;
    EventQueue queue;
    FakeBrowserView browser;
    std::unique_ptr<IaxVoiceEngine> voice = std::make_unique<IaxVoiceEngine>(
        IaxEngineConfig{"127.0.0.1", 0, supportedFormats()},
        makeMediaEngine({AudioConfig::Backend::Virtual, file("microphone.wav"), file("speaker.wav"), file("ring.wav")}));
    std::unique_ptr<COrvaneDlg> bar = std::make_unique<COrvaneDlg>([this](AgentWindow& window) {
        return std::make_unique<CImplementation>(CImplementation::Seams{window, queue, *voice, browser, 0});
    });
};

}  // namespace

TEST_F(WindowedCallTest, AWholeCallByClickingTheBar) {
    bar->show();
    bar->OnInitDialog();
    ASSERT_TRUE(reaches(agent::AgentLoggedOut));

    click(Control::Login);
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->loginDialog() != nullptr; }));
    CPreferencesDlg& login = *bar->loginDialog();
    QTest::keyClicks(&login.agentField(), QString::fromStdString(kAgent));
    QTest::keyClicks(&login.passwordField(), "pw1001");
    login.hostField().setEditText("127.0.0.1");
    login.portField().setText(QString::number(cti.port()));
    QTest::mouseClick(&login.okButton(), Qt::LeftButton);
    ASSERT_TRUE(switchboard.waitForRegistration(kAgent, kWait));
    ASSERT_TRUE(reaches(agent::AgentNotReady));
    EXPECT_TRUE(eventuallyOnScreen([&] { return bar->statusLine().text() == QStringLiteral("[Not Ready]"); }));

    click(Control::Ready);
    const auto channel = switchboard.waitForCall(
        [](const LabCallInfo& call) { return call.called == "ZQ" + kAgent && call.state == LabCallState::Answered; },
        kWait);
    ASSERT_TRUE(channel) << "the agent channel was not answered";
    ASSERT_TRUE(reaches(agent::AgentReady));
    EXPECT_EQ(sent("36,"), "36,0^" + kAgent);

    cti.push(labcti::queueDistribute({"T9", "2026.12.08.10.00.00", "5551234", "", std::nullopt, {}}));
    ASSERT_TRUE(reaches(agent::AgentReadyInCall));
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->statusLine().text() == QStringLiteral("[In Call]"); }));
    QTest::qWait(1200);
    EXPECT_TRUE(labtone::present(switchboard.receivedAudio(channel->id), 1000, LabSwitchOptions::kFarPartyToneHertz))
        << "the customer does not hear the agent";

    click(Control::Unhold);  // puts the customer on hold
    EXPECT_EQ(sent("100,"), "100,0^" + kAgent + "^T9");
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->control(Control::Hold)->isVisible(); }));
    click(Control::Hold);    // and takes the hold off
    EXPECT_EQ(sent("101,"), "101,0^" + kAgent + "^T9");

    click(Control::HangUp);
    EXPECT_EQ(sent("405,"), "405,0^" + kAgent);
    ASSERT_TRUE(reaches(agent::AgentNotReady));
    EXPECT_EQ(sent("37,"), "37,T9^" + kAgent);

    QSignalSpy finished(bar.get(), &QDialog::finished);
    click(Control::Close);
    ASSERT_TRUE(eventuallyOnScreen([&] { return finished.count() == 1; }, 20000));
    EXPECT_EQ(sent("35,"), "35,T9^" + kAgent + "^USER_REQUEST_CLOSE");
}
