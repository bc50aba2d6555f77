#include "BarFixture.h"

#include <QLineEdit>
#include <future>
#include <thread>

#include "ui/CCompleteConferenceDlg.h"
#include "ui/CDialPadDlg.h"
#include "ui/CPreferencesDlg.h"

namespace {

using DialogsTest = BarFixture;

bool okUsable(CPreferencesDlg& dialog, const QString& agent, const QString& password) {
    dialog.agentField().setText(agent);
    dialog.passwordField().setText(password);
    return dialog.okButton().isEnabled();
}

// The conference dialog's buttons, as the calls handle them: which were clicked, on which thread.
class RecordedButtons : public ConferenceButtons {
public:
    void OnBnClickedLine1() override { note("line 1"); }
    void OnBnClickedLine2() override { note("line 2"); }
    void OnBnClickedButtonCompleteConf() override { note("complete"); }
    void OnBnClickedCancel() override { note("cancel"); }

    std::vector<std::string> clicks() const {
        std::lock_guard guard(lock_);
        return clicks_;
    }
    std::thread::id thread() const {
        std::lock_guard guard(lock_);
        return thread_;
    }

private:
    void note(const std::string& click) {
        std::lock_guard guard(lock_);
        clicks_.push_back(click);
        thread_ = std::this_thread::get_id();
    }
    mutable std::mutex lock_;
    std::vector<std::string> clicks_;
    std::thread::id thread_;
};

}  // namespace

TEST(LoginDialogTest, OkIsUsableOnlyForAValidAgentAndPassword) {
    CPreferencesDlg dialog({"1001", 8765, "cti.lab", {"cti.lab"}});
    EXPECT_FALSE(dialog.okButton().isEnabled()) << "OK waits for the agent's first keystroke";
    EXPECT_FALSE(okUsable(dialog, "ab", "pw")) << "2 characters";
    EXPECT_TRUE(okUsable(dialog, "abc", "pw")) << "3 characters";
    EXPECT_TRUE(okUsable(dialog, QString(18, 'a'), "pw")) << "18 characters";
    EXPECT_FALSE(okUsable(dialog, QString(19, 'a'), "pw")) << "19 characters";
    EXPECT_TRUE(okUsable(dialog, "1001", "")) << "an empty password";
    EXPECT_TRUE(okUsable(dialog, "1001", QString(18, 'p')));
    EXPECT_FALSE(okUsable(dialog, "1001", QString(19, 'p'))) << "a 19-character password";
    for (const char* separator : {"|", "^", "~", "]", "[", " "}) {
        EXPECT_FALSE(okUsable(dialog, QStringLiteral("10%101").arg(QLatin1String(separator)), "pw")) << separator;
        EXPECT_FALSE(okUsable(dialog, "1001", QStringLiteral("p%1w").arg(QLatin1String(separator)))) << separator;
    }
}

// A port nothing can listen on would be stored and fail every later login, so OK refuses it.
TEST(LoginDialogTest, OkRefusesAPortOutsideOneTo65535) {
    CPreferencesDlg dialog({"1001", 8765, "cti.lab", {"cti.lab"}});
    okUsable(dialog, "1001", "pw");
    for (const char* port : {"0", "", "65536"}) {
        dialog.portField().setText(QString::fromLatin1(port));
        EXPECT_FALSE(dialog.okButton().isEnabled()) << "port '" << port << "'";
    }
    dialog.portField().setText("65535");
    EXPECT_TRUE(dialog.okButton().isEnabled());
    dialog.portField().clear();
    QTest::keyClicks(&dialog.portField(), "87a5");
    EXPECT_EQ(dialog.portField().text(), QStringLiteral("875")) << "only digits can be typed";
}

TEST(LoginDialogTest, WithNoHostHistoryTheHostFieldShowsAnExample) {
    CPreferencesDlg dialog({"", 8765, "", {}});
    EXPECT_EQ(dialog.hostField().currentText(), QStringLiteral("192.168.x.x"));
    EXPECT_EQ(dialog.portField().text(), QStringLiteral("8765"));
    EXPECT_TRUE(dialog.passwordField().text().isEmpty());
}

// The Login button's dialog, confirmed: the host goes to the front of the history (which
// does not grow), the settings are written with an empty password, and the login starts.
TEST_F(DialogsTest, ConfirmingTheLoginDialogMovesTheHostToTheFrontAndLogsIn) {
    startBar();
    core().storedSettings().ctiHosts.set({"a.lab", "b.lab", "127.0.0.1", "d.lab"});
    click(Control::Login);
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->loginDialog() != nullptr; }));
    CPreferencesDlg& dialog = *bar->loginDialog();
    EXPECT_EQ(dialog.hostField().count(), 4);
    screenshot(dialog, "dialog-login");
    dialog.agentField().setText("1001");
    dialog.passwordField().setText("pw");
    dialog.hostField().setEditText("127.0.0.1");
    dialog.portField().setText(QString::number(server.port()));
    QTest::mouseClick(&dialog.okButton(), Qt::LeftButton);
    ASSERT_TRUE(waitForState(agent::AgentLoggingInWhithNotReady));
    EXPECT_EQ(core().storedSettings().ctiHosts.get(), (std::vector<std::string>{"127.0.0.1", "a.lab", "b.lab", "d.lab"}));
    std::string stored = "unread";
    EXPECT_TRUE(SettingsStore().readRegistryValue("Agent password", stored));
    EXPECT_EQ(stored, "");
    EXPECT_TRUE(SettingsStore().readRegistryValue("Switch String 1", stored));
    EXPECT_EQ(stored, "127.0.0.1");
}

TEST_F(DialogsTest, ConfirmingAnEmptyHostStoresItAndLeavesTheHistoryAlone) {
    startBar();
    core().storedSettings().ctiHosts.set({"a.lab"});
    click(Control::Login);
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->loginDialog() != nullptr; }));
    CPreferencesDlg& dialog = *bar->loginDialog();
    dialog.agentField().setText("1001");
    dialog.hostField().setEditText("  ");
    QTest::mouseClick(&dialog.okButton(), Qt::LeftButton);
    ASSERT_TRUE(eventuallyOnScreen([&] { return log.contains("doAgentLogin"); }));
    EXPECT_EQ(core().storedSettings().ctiHost.get(), "  ");
    EXPECT_EQ(core().storedSettings().ctiHosts.get(), (std::vector<std::string>{"a.lab"}));
}

// The dial pad from the Dial button: keys send touch tones, OK dials the number without its
// blanks and puts it first in the history, which keeps ten numbers, case-insensitively unique.
TEST_F(DialogsTest, TheDialPadSendsTonesDialsTrimmedAndKeepsTenNumbers) {
    loginNotReady();
    core().storedSettings().dialList.set({"n1", "n2", "n3", "n4", "n5", "n6", "n7", "n8", "n9", "n10"});
    auto dialled = std::async(std::launch::async, [&] { bar->buttons()->showDialPad(); });
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->dialWindow() != nullptr; }));
    CDialPadDlg& pad = *bar->dialWindow();
    EXPECT_EQ(pad.windowTitle(), QStringLiteral("Dialpad"));
    EXPECT_FALSE(pad.secondList().isEnabled());
    EXPECT_EQ(pad.pad().numberField().count(), 10);
    for (const char* key : {"1", "2", "3"}) QTest::mouseClick(pad.pad().key(key), Qt::LeftButton);
    EXPECT_EQ(pad.pad().number(), QStringLiteral("123"));
    ASSERT_TRUE(eventuallyOnScreen([&] { return voice.has("dtmf 1") && voice.has("dtmf 2") && voice.has("dtmf 3"); }));
    screenshot(pad, "dialog-dial-pad");
    pad.pad().setNumber("  0612  ");
    QTest::mouseClick(&pad.okButton(), Qt::LeftButton);
    ASSERT_TRUE(eventuallyOnScreen([&] { return dialled.wait_for(0s) == std::future_status::ready; }));
    const std::vector<std::string> history = core().storedSettings().dialList.get();
    ASSERT_EQ(history.size(), 10u);
    EXPECT_EQ(history.front(), "0612");
    EXPECT_EQ(history.back(), "n9") << "the oldest gave way";
    EXPECT_EQ(core().call().snapshot().dialledNumber, "0612");
    EXPECT_TRUE(eventuallyOnScreen([&] {
        for (const std::string& operation : voice.operations())
            if (operation.rfind("call ", 0) == 0 && operation.find("0612") != std::string::npos) return true;
        return false;
    }));
}

TEST_F(DialogsTest, RedialingAKnownNumberLeavesTheHistoryAsItWas) {
    loginNotReady();
    core().storedSettings().dialList.set({"0699", "ABC12", "0612"});
    auto dialled = std::async(std::launch::async, [&] { bar->buttons()->showDialPad(); });
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->dialWindow() != nullptr; }));
    bar->dialWindow()->pad().setNumber("abc12");
    QTest::mouseClick(&bar->dialWindow()->okButton(), Qt::LeftButton);
    ASSERT_TRUE(eventuallyOnScreen([&] { return dialled.wait_for(0s) == std::future_status::ready; }));
    EXPECT_EQ(core().storedSettings().dialList.get(), (std::vector<std::string>{"0699", "ABC12", "0612"}));
}

TEST_F(DialogsTest, ABlankNumberCancelsTheDialWithAWarning) {
    loginNotReady();
    auto dialled = std::async(std::launch::async, [&] { bar->buttons()->showDialPad(); });
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->dialWindow() != nullptr; }));
    bar->dialWindow()->pad().setNumber("   ");
    QTest::keyClick(bar->dialWindow(), Qt::Key_Return);
    ASSERT_TRUE(eventuallyOnScreen([&] { return dialled.wait_for(0s) == std::future_status::ready; }));
    EXPECT_TRUE(log.contains("Dial String empty... cancelling dial"));
    ASSERT_TRUE(waitForState(agent::AgentNotReady)) << "Close-Dial-Event took the agent back";
}

// The conference window's clicks run on the thread that asked for the window; its line
// buttons and marks follow the agent core; a close from elsewhere is a Cancel.
TEST_F(DialogsTest, TheConferenceWindowHandsItsClicksToTheAskingThread) {
    startBar();
    RecordedButtons buttons;
    std::thread::id asking;
    auto completed = std::async(std::launch::async, [&] {
        asking = std::this_thread::get_id();
        return bar->runCompleteConferenceDialog(buttons, 1);
    });
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->conferenceWindow() != nullptr; }));
    CCompleteConferenceDlg& dialog = *bar->conferenceWindow();
    EXPECT_FALSE(dialog.control(Control::ConferenceLine2)->isEnabled()) << "the consultation line is not up yet";
    EXPECT_FALSE(dialog.control(Control::ConferenceLine1Selected)->isVisibleTo(&dialog));
    EXPECT_EQ(dialog.control(Control::CompleteConference)->toolTip(), QStringLiteral("Complete Conference"));
    bar->enableControl(Control::ConferenceLine2, true);  // Enable-Line2-Conference
    bar->showControl(Control::ConferenceLine1Selected, true);
    bar->showControl(Control::ConferenceLine1Unselected, false);
    ASSERT_TRUE(eventuallyOnScreen([&] { return dialog.control(Control::ConferenceLine2)->isEnabled(); }));
    EXPECT_TRUE(dialog.control(Control::ConferenceLine1Selected)->isVisibleTo(&dialog));
    EXPECT_FALSE(dialog.control(Control::ConferenceLine1Unselected)->isVisibleTo(&dialog));
    screenshot(dialog, "dialog-complete-conference");

    QTest::mouseClick(static_cast<QAbstractButton*>(dialog.control(Control::ConferenceLine2)), Qt::LeftButton);
    QTest::mouseClick(static_cast<QAbstractButton*>(dialog.control(Control::CompleteConference)), Qt::LeftButton);
    ASSERT_TRUE(eventuallyOnScreen([&] { return completed.wait_for(0s) == std::future_status::ready; }));
    EXPECT_TRUE(completed.get());
    EXPECT_EQ(buttons.clicks(), (std::vector<std::string>{"line 2", "complete"}));
    EXPECT_EQ(buttons.thread(), asking);
    EXPECT_FALSE(bar->controlExists(Control::CompleteConference));

    RecordedButtons closed;
    auto cancelled = std::async(std::launch::async, [&] { return bar->runCompleteConferenceDialog(closed, 2); });
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->conferenceWindow() != nullptr; }));
    std::thread([&] { bar->closeCompleteConferenceWindow(); }).join();
    ASSERT_TRUE(eventuallyOnScreen([&] { return cancelled.wait_for(0s) == std::future_status::ready; }));
    EXPECT_FALSE(cancelled.get());
    EXPECT_EQ(closed.clicks(), (std::vector<std::string>{"cancel"}));
}
