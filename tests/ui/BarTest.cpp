#include "BarFixture.h"

#include <QAction>
#include <QKeyEvent>
#include <QSignalSpy>
#include <future>
#include <thread>

#include "ui/CDialPadDlg.h"
#include "ui/CTicker.h"

namespace {

using BarTest = BarFixture;

void press(QWidget* target, Qt::Key key) { QTest::keyClick(target, key); }

}  // namespace

TEST_F(BarTest, EscapeIsSwallowedAndEnterOnlyReachesOnOk) {
    startBar();
    bar->setFocus();
    press(bar.get(), Qt::Key_Escape);
    press(bar.get(), Qt::Key_Return);
    press(bar.get(), Qt::Key_Space);
    QCoreApplication::processEvents();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(log.count("COrvaneDlg::OnOK()"), 2);  // Enter, and space taken as Enter
    EXPECT_FALSE(log.contains("CImplementation::doWaitforCleanClose()"));
}

// Keyboard use: Enter or space on the focused button clicks it.
TEST_F(BarTest, EnterAndSpaceClickTheFocusedButton) {
    loginNotReady();
    QWidget* ready = bar->control(Control::Ready);
    ASSERT_TRUE(eventuallyOnScreen([&] { return ready->isEnabled(); }));
    ready->setFocus();
    press(ready, Qt::Key_Return);
    ASSERT_TRUE(waitForState(agent::AgentGoingReadyInProgress));
    EXPECT_FALSE(log.contains("COrvaneDlg::OnOK()"));
}

// A close asked by the desktop (the window manager's close, or SIGTERM) in the middle of a
// call runs the clean close: the call is dropped, the agent logged out, then the bar ends.
TEST_F(BarTest, ACloseRequestInTheMiddleOfACallRunsTheCleanClose) {
    loginNotReady();
    goReady();
    takeCall("T7");
    QSignalSpy finished(bar.get(), &QDialog::finished);
    EXPECT_FALSE(bar->close()) << "the close is refused while the clean close runs";
    EXPECT_TRUE(log.contains("COrvaneDlg::OnCancel(), Received message to close window, closing properly."));
    ASSERT_TRUE(eventuallyOnScreen([&] { return finished.count() == 1; }, kWaitMs));
    EXPECT_TRUE(log.contains("CImplementation::CloseOrvane()"));
    EXPECT_TRUE(voice.has("dump all") || voice.has("dump 0")) << "the customer's call is dropped";
    EXPECT_TRUE(server.waitFor("35,T7^1001^USER_REQUEST_CLOSE", 5s).has_value()) << "the agent is logged out";
    EXPECT_TRUE(log.contains("COrvaneDlg::OnCancel()"));
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(model.ticker().text, "Please wait ... Closing");
}

// Once closing, no button can be used again, whatever the state machine still does.
TEST_F(BarTest, TheCloseButtonDisablesEveryButtonAndNoneComesBack) {
    loginNotReady();
    goReady();
    click(Control::Close);
    ASSERT_TRUE(eventuallyOnScreen([&] { return !bar->isVisible(); }, kWaitMs));
    for (Control id : {Control::Logout, Control::Ready, Control::NotReady, Control::HangUp, Control::Dial,
                       Control::Transfer, Control::Conference, Control::Close})
        EXPECT_FALSE(bar->control(id)->isEnabled()) << static_cast<int>(id);
    EXPECT_TRUE(bar->windowClosing());
    core().screenActions().EnableReady();  // an enable that comes late is refused
    QCoreApplication::processEvents();
    EXPECT_TRUE(log.contains("Orvane closing "));
    EXPECT_FALSE(bar->control(Control::Ready)->isEnabled());
}

TEST_F(BarTest, TheReasonMenuIsRebuiltFromTheServersListAndAChoiceSetsTheReason) {
    server.configure([](LabCtiOptions& options) { options.notReadyReasons = {"Break", "Lunch", "WrapUp"}; });
    loginNotReady();
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->reasonMenu().actions().size() == 3; }));
    server.push(labcti::notReadyReasons({"Training", "wrapup"}));
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->reasonMenu().actions().size() == 2; }));
    const QList<QAction*> reasons = bar->reasonMenu().actions();
    EXPECT_EQ(reasons[0]->text(), QStringLiteral("Training"));
    EXPECT_EQ(reasons[0]->data().toInt(), 33791);
    EXPECT_EQ(reasons[1]->data().toInt(), 33792);

    server.clearReceived();
    reasons[0]->trigger();
    ASSERT_TRUE(eventuallyOnScreen([&] { return core().status().notReadyReason() == "Training"; }));
    EXPECT_TRUE(log.contains("Not Ready Reason chosen [Training]"));
    EXPECT_TRUE(server.waitFor("37,", 5s).has_value()) << "the not-ready click goes to the server";

    reasons[1]->trigger();  // "wrapup", in any case, empties the reason
    ASSERT_TRUE(eventuallyOnScreen([&] { return core().status().notReadyReason().empty(); }));
    EXPECT_FALSE(log.contains("Not Ready Reason chosen [wrapup]"));
}

TEST_F(BarTest, TheSameTickerTextTwiceDoesNotRestartTheScroll) {
    startBar();
    bar->showTicker(TickerText::alert("Registering with switch, please wait..."));
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->ticker().text() == "Registering with switch, please wait..."; }));
    bar->ticker().tick();
    bar->ticker().tick();
    const int scrolled = bar->ticker().textX();
    bar->showTicker(TickerText::alert("Registering with switch, please wait..."));
    QCoreApplication::processEvents();
    EXPECT_LE(bar->ticker().textX(), scrolled) << "it did not start again from the right edge";
    EXPECT_EQ(log.count("Ticker text was change for [Registering with switch, please wait...]"), 2);
}

// The dial window is modal for the thread that asked for it only: the bar keeps painting and a
// close from another thread (the state machine's Close-Dial-Window) ends it as cancelled.
TEST_F(BarTest, ADialWindowBlocksOnlyItsCallerAndClosesFromAnotherThread) {
    startBar();
    auto answer = std::async(std::launch::async, [&] { return bar->runDialWindow("Transfer", "0612"); });
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->dialWindow() != nullptr; }));
    CDialPadDlg* dialog = bar->dialWindow();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Transfer"));
    EXPECT_EQ(dialog->pad().number(), QStringLiteral("0612"));
    EXPECT_TRUE(dialog->secondList().isEnabled()) << "a transfer says what the number is";
    EXPECT_TRUE(bar->controlExists(Control::DialPadOk));

    bar->enableControl(Control::DialPadOk, false);  // Disable-Ok-Dial
    ASSERT_TRUE(eventuallyOnScreen([&] { return !dialog->okButton().isEnabled(); }));

    std::thread([&] { bar->closeDialWindow(); }).join();
    ASSERT_TRUE(eventuallyOnScreen([&] { return answer.wait_for(0s) == std::future_status::ready; }));
    EXPECT_FALSE(answer.get().confirmed);
    EXPECT_TRUE(log.contains("CDialPadDlg : callCloseDialPad()"));
    EXPECT_FALSE(bar->dialWindowOpen());
}

TEST_F(BarTest, TheAttachedDataButtonOpensAndClosesTheWindowUnderTheBar) {
    loginNotReady();
    goReady();
    takeCall("T2", {{{"Customer", "Grace", "crm", "STRINGDATA", "false"}}});
    ASSERT_TRUE(eventuallyOnScreen([&] { return bar->attachedDataWindow().isVisible(); }));
    click(Control::AttachedData);
    EXPECT_FALSE(bar->attachedDataWindow().isVisible());
    click(Control::AttachedData);
    EXPECT_TRUE(bar->attachedDataWindow().isVisible());
    EXPECT_EQ(bar->attachedDataWindow().pos(), bar->frameGeometry().bottomLeft() + QPoint(0, 1));
    bar->move(bar->pos() + QPoint(40, 25));
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->attachedDataWindow().pos(), bar->frameGeometry().bottomLeft() + QPoint(0, 1)) << "it moves along";
}

// Dragging the bar's body moves it; its place is remembered for the next start.
TEST_F(BarTest, TheBarIsDraggedByItsBodyAndItsPlaceIsRemembered) {
    startBar();
    const QPoint start = bar->pos();
    const QPoint grip(bar->width() / 2, 2);  // on the body, above the status line's row of buttons
    QTest::mousePress(bar.get(), Qt::LeftButton, {}, grip);
    QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(30, 20)), bar->mapToGlobal(QPointF(grip + QPoint(30, 20))),
                     Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(bar.get(), &move);
    QTest::mouseRelease(bar.get(), Qt::LeftButton, {}, grip + QPoint(30, 20));
    EXPECT_EQ(bar->pos(), start + QPoint(30, 20));

    click(Control::Close);
    ASSERT_TRUE(eventuallyOnScreen([&] { return !bar->isVisible(); }, kWaitMs));
    COrvaneDlg again([](AgentWindow&) { return std::unique_ptr<CImplementation>(); });
    EXPECT_EQ(again.pos(), start + QPoint(30, 20));
}
