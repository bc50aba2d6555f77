#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "agent/HeadlessAgentWindow.h"
#include "desktop/MessageCenter.h"
#include "desktop/Ticker.h"
#include "infra/Timing.h"
#include "support/Eventually.h"
#include "support/LogCapture.h"
#include "support/TimeScale.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kTickerWait = 5s;

// What the message centre put on the ticker, and when.
class TickerRecord {
public:
    struct Shown {
        TickerText text;
        Clock::time_point at;
    };

    MessageCenter::Show show() {
        return [this](const TickerText& text) {
            std::lock_guard guard(lock_);
            shown_.push_back({text, Clock::now()});
        };
    }
    // The texts shown that were not the idle clear.
    std::vector<Shown> texts() const {
        std::lock_guard guard(lock_);
        std::vector<Shown> found;
        for (const Shown& shown : shown_)
            if (shown.text.mode != 4) found.push_back(shown);
        return found;
    }
    std::vector<std::string> words() const {
        std::vector<std::string> found;
        for (const Shown& shown : texts()) found.push_back(shown.text.text);
        return found;
    }
    std::vector<Shown> all() const {
        std::lock_guard guard(lock_);
        return shown_;
    }

private:
    mutable std::mutex lock_;
    std::vector<Shown> shown_;
};

class MessageCenterTest : public ::testing::Test {
protected:
    MessageCenterTest() { Timing::setScale(0.01); }
    ~MessageCenterTest() override {
        center.close();
        center.waitUntilStopped();
        Timing::setScale(1.0);
    }

    bool eventuallyWords(const std::vector<std::string>& words) {
        return eventually([&] { return record.words() == words; }, kTickerWait);
    }

    LogCapture log;
    TickerRecord record;
    MessageCenter center{record.show()};
};

TEST_F(MessageCenterTest, PlaysStatisticPartsInOrderThreeSecondsApartThenClearsWhenIdle) {
    ASSERT_TRUE(center.start());
    EXPECT_FALSE(center.start());  // its semaphore is taken while the thread runs
    center.queueStatistic({"A^B^C", 255, 128, 0, 2});
    ASSERT_TRUE(eventuallyWords({"A", "B", "C"}));
    const auto shown = record.texts();
    for (const auto& part : shown) EXPECT_EQ(part.text, (TickerText{part.text.text, 0xFF8000, 0x000000, 1, 2}));
    const auto apart = Timing::scaled(intervals::kMessageCenterStatistic);
    EXPECT_GE(shown[1].at - shown[0].at, apart);
    EXPECT_GE(shown[2].at - shown[1].at, apart);
    ASSERT_TRUE(eventually([&] { return record.all().back().at > shown[2].at && record.all().back().text.mode == 4; }, kTickerWait));
    TickerText idleClear{"", 0x000000, 0x000000, 2, 4};
    idleClear.idleClear = true;
    EXPECT_EQ(record.all().back().text, idleClear);

    center.queueStatistic({"Queue long", 0, 0, 255, 1});  // one part
    center.queueStatistic({"X^^Y", 0, 0, 255, 1});        // an empty part clears the line for its turn
    ASSERT_TRUE(eventuallyWords({"A", "B", "C", "Queue long", "X", "", "Y"}));
    EXPECT_TRUE(log.contains("CImplementation::doMessageCenterThread() - part 2 of [X^^Y] is empty"));
}

TEST_F(MessageCenterTest, AnAlertCutsInAfterThePartShownAndTheRestFollow) {
    Timing::setScale(0.1);  // 300 ms per part, to queue the alert while B shows
    ASSERT_TRUE(center.start());
    center.queueStatistic({"A^B^C", 0, 255, 0, 1});
    ASSERT_TRUE(eventuallyWords({"A", "B"}));
    center.queueAlert({"Queue over 20 calls", 255, 0, 0, 1});
    ASSERT_TRUE(eventuallyWords({"A", "B", "Queue over 20 calls", "C"}));
    EXPECT_EQ(record.texts()[2].text, (TickerText{"Queue over 20 calls", 0xFF0000, 0x000000, 2, 1}));
    EXPECT_EQ(record.texts()[3].text, (TickerText{"C", 0x00FF00, 0x000000, 1, 1}));
}

TEST_F(MessageCenterTest, DisablingEmptiesTheQueuesAndOnlyClearsTheTicker) {
    ASSERT_TRUE(center.start());
    center.setEnabled(false);
    center.queueStatistic({"A^B", 0, 0, 0, 1});
    center.queueAlert({"Alert", 0, 0, 0, 1});
    const std::size_t before = record.all().size();
    ASSERT_TRUE(eventually([&] { return record.all().size() >= before + 3; }, kTickerWait));  // clears go on
    EXPECT_TRUE(record.words().empty());
    EXPECT_EQ(center.statistics() + center.alerts(), 2u);  // kept while disabled...
    center.setEnabled(true);
    EXPECT_EQ(center.statistics() + center.alerts(), 0u);  // ...but the next enable starts afresh
    center.queueStatistic({"Fresh", 0, 0, 0, 1});
    center.setEnabled(false);
    EXPECT_EQ(center.statistics(), 0u);
}

TEST_F(MessageCenterTest, CloseEndsTheThreadWithoutWaitingOutItsSleepAndShowsNothingMore) {
    ASSERT_TRUE(center.start());
    center.queueAlert({"Long alert", 0, 0, 0, 1});
    // From here on the thread's sleeps are real: 10 s for the alert, 5 s for the idle pause. The
    // alert is queued first, so the thread shows it after at most a scaled-down idle pause (a real
    // one only when both changes fall between its look at the queue and its pause).
    Timing::setScale(1.0);
    ASSERT_TRUE(eventually([&] { return record.words() == std::vector<std::string>{"Long alert"}; }, 15s));
    const auto before = Clock::now();
    center.close();
    center.waitUntilStopped();
    EXPECT_LT(Clock::now() - before, 4s);
    const std::size_t shown = record.all().size();
    EXPECT_TRUE(eventually([&] { return log.contains("Ending CImplementation::doMessageCenterThread() "); }, kTickerWait));
    center.waitUntilStopped();  // waiting again does not block
    EXPECT_EQ(record.all().size(), shown);
}

TEST_F(MessageCenterTest, AFullQueueGivesUpItsOldestEntries) {
    for (int i = 0; i < static_cast<int>(MessageCenter::kQueueLimit) + 2; ++i)
        center.queueStatistic({"S" + std::to_string(i), 0, 0, 0, 1});
    EXPECT_EQ(center.statistics(), MessageCenter::kQueueLimit);
    EXPECT_EQ(log.levelOf("Message center statistics queue full, dropping the oldest [S0]"), "WARNING");
    EXPECT_TRUE(log.contains("Message center statistics queue full, dropping the oldest [S1]"));
    EXPECT_FALSE(log.contains("dropping the oldest [S2]"));
}

class TickerTest : public ::testing::Test {
protected:
    LogCapture log;
    HeadlessAgentWindow window{"Orvane"};
    Ticker ticker{window};
};

TEST_F(TickerTest, TheSameTextTwiceDoesNotRestartIt) {
    ticker.setTickerText(TickerText::alert("Registering with switch, please wait..."));
    ticker.setTickerText({"Registering with switch, please wait...", 0x0000FF, 0x000000, 1, 3});
    EXPECT_EQ(window.ticker(), TickerText::alert("Registering with switch, please wait..."));
    EXPECT_EQ(log.count("Ticker text was change for [Registering with switch, please wait...]"), 2);
    ticker.setTickerText({"", 0x000000, 0x000000, 2, 4});
    EXPECT_EQ(window.ticker(), (TickerText{"", 0x000000, 0x000000, 2, 4}));
}

// A failure that stopped the login outlasts the message centre's idle clearing; the next text
// the program shows replaces it, and from then on the idle clearing works again.
TEST_F(TickerTest, AStandingFailureOutlastsTheIdleClearingUntilReplaced) {
    ScopedTimeScale fast{0.01};
    MessageCenter center{[this](const TickerText& text) { ticker.setTickerText(text); }};
    TickerText failure{"Audio device error.", 0x46839D, 0x000000, 0, 3};
    failure.standing = true;
    ticker.setTickerText(failure);
    ASSERT_TRUE(center.start());
    ASSERT_TRUE(log.waitFor("Ticker keeps [Audio device error.] until another text replaces it", kTickerWait));
    EXPECT_EQ(window.ticker().text, "Audio device error.");

    ticker.setTickerText(TickerText::alert("Registering with switch, please wait..."));
    EXPECT_TRUE(eventually([&] { return window.ticker().text.empty(); }, kTickerWait));
    center.close();
    center.waitUntilStopped();
}

}  // namespace
