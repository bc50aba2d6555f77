#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QTest>

#include "infra/Timing.h"
#include "ui/CTicker.h"

namespace {

// A ticker of the bar's size, set as the bar sets it: configured, then given its text.
class TickerTest : public ::testing::Test {
protected:
    TickerTest() { ticker.resize(220, 15); }
    void show(const QString& text, int speed, int mode) {
        ticker.configure(Qt::red, Qt::black, QStringLiteral("Arial"), speed, mode);
        ticker.setText(text);
    }
    void tick(int times) {
        for (int step = 0; step < times; ++step) ticker.tick();
    }
    int widthOf(const QString& text) const { return QFontMetrics(ticker.font()).horizontalAdvance(text); }
    // Steps until the text starts again from the right; where it stood on the step before.
    int stepUntilItStartsAgain() {
        int before = ticker.textX();
        for (int step = 0; step < 2000; ++step) {
            ticker.tick();
            if (ticker.textX() > before) return before;
            before = ticker.textX();
        }
        return before;
    }

    CTicker ticker;
};

}  // namespace

TEST_F(TickerTest, ModeOneScrollsLeftFromTheRightEdgeAndStartsAgainOnceGone) {
    show(QStringLiteral("Registering with switch, please wait..."), 2, 1);
    EXPECT_EQ(ticker.textX(), 220);
    EXPECT_EQ(ticker.textY(), 3);
    tick(10);
    EXPECT_EQ(ticker.textX(), 200);
    const int width = widthOf(ticker.text());
    const int last = stepUntilItStartsAgain();
    EXPECT_GT(last, -width) << "a part of the text was still shown";
    EXPECT_LE(last - 2, -width) << "it starts again once wholly gone";
    EXPECT_EQ(ticker.textX(), 220);
    EXPECT_TRUE(ticker.stepping());
}

TEST_F(TickerTest, ModeTwoAndFiveMeasureTheWholeListOfParts) {
    show(QStringLiteral("|Calls waiting: 4||Longest wait: 0:42|"), 10, 2);
    const int width = widthOf("Calls waiting: 4") + widthOf("Longest wait: 0:42");
    const int last = stepUntilItStartsAgain();
    EXPECT_GT(last, -width);
    EXPECT_LE(last - 10, -width);
    EXPECT_EQ(ticker.textX(), 220);
}

TEST_F(TickerTest, ModeThreeStandsStillAndCostsNoTimer) {
    show(QStringLiteral("Audio device error."), 0, 3);
    EXPECT_FALSE(ticker.stepping()) << "nothing moves, nothing wakes";
    show(QStringLiteral("Please wait ... Closing "), 2, 3);
    EXPECT_FALSE(ticker.stepping());
}

// Mode 4 holds at x 3 from height 0, rises one pixel a tick from tick 100, and is cleared at
// tick 220 (8.8 s at 40 ms a tick).
TEST_F(TickerTest, ModeFourRisesFromTickHundredAndIsClearedAtTickTwoHundredTwenty) {
    show(QStringLiteral("Supervisor: team meeting at 3"), 2, 4);
    EXPECT_EQ(ticker.textY(), 0);
    EXPECT_EQ(ticker.textX(), 220) << "configured from the right edge; drawn at x 3";
    tick(99);
    EXPECT_EQ(ticker.textY(), 0);
    tick(1);
    EXPECT_EQ(ticker.textY(), -1);
    tick(119);
    EXPECT_EQ(ticker.textY(), -120);
    EXPECT_EQ(ticker.text(), QStringLiteral("Supervisor: team meeting at 3"));
    tick(1);
    EXPECT_TRUE(ticker.text().isEmpty());
    EXPECT_EQ(ticker.textY(), 2);
    EXPECT_EQ(ticker.tickCount(), 0);
    EXPECT_FALSE(ticker.stepping()) << "an empty ticker rests";
}

TEST_F(TickerTest, AnEmptyTextRestsTheTimer) {
    show(QString(), 2, 4);
    EXPECT_FALSE(ticker.stepping());
    show(QStringLiteral("x"), 2, 1);
    EXPECT_TRUE(ticker.stepping());
}

TEST_F(TickerTest, TheTimerStepsEveryFortyMillisecondsOfProductionTime) {
    const double previous = Timing::scale();
    Timing::setScale(0.25);
    show(QStringLiteral("Registering with switch, please wait..."), 2, 1);
    Timing::setScale(previous);
    const QPixmap before = ticker.grab();
    QTest::qWait(60);  // a few 10 ms steps
    EXPECT_LT(ticker.textX(), 220);
    EXPECT_NE(ticker.grab().toImage(), before.toImage()) << "each step repaints";
}
