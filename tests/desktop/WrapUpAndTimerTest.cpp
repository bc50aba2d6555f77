#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "agent/HeadlessAgentWindow.h"
#include "desktop/CTimer.h"
#include "desktop/WrapUpChecker.h"
#include "infra/Timing.h"
#include "support/LogCapture.h"
#include "support/TimeScale.h"

namespace {

using namespace std::chrono_literals;

class RecordingAgent : public WrapUpChecker::Agent {
public:
    void applyActionAfterWrapUp(const std::string& action) override {
        std::lock_guard guard(lock);
        actions.push_back(action);
    }
    void releaseEndOfWrapUp() override { ++releases; }

    std::vector<std::string> applied() {
        std::lock_guard guard(lock);
        return actions;
    }

    std::mutex lock;
    std::vector<std::string> actions;
    std::atomic<int> releases{0};
};

template <class Predicate>
bool eventually(Predicate done) {
    for (int i = 0; i < 3000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

class WrapUpTest : public ::testing::Test {
protected:
    ScopedTimeScale timeScale{0.001};  // one second of wrap-up lasts 1 ms
    LogCapture log;
    RecordingAgent agent;
    WrapUpChecker checker{agent};
};

}  // namespace

TEST_F(WrapUpTest, SettingsFollowTheirTextRules) {
    checker.setWrapUpSettings("", "", "");
    EXPECT_FALSE(checker.timeOutEnabled());
    EXPECT_EQ(checker.maxWrapUp(), 0);
    EXPECT_EQ(checker.actionAfterTimeOut(), "NOT_READY");
    EXPECT_TRUE(log.contains(
        "WrapUp informations : Wrap Up timeout[0]  Max Wrap Up[0]  Action after Wrap Up timeout[NOT_READY]"));
    checker.setWrapUpSettings("READY", "45", "2");
    EXPECT_FALSE(checker.timeOutEnabled());
    checker.setWrapUpSettings("READY", "45", "1");
    EXPECT_TRUE(checker.timeOutEnabled());
    EXPECT_EQ(checker.maxWrapUp(), 45);
    EXPECT_EQ(log.levelOf("WrapUp informations : Wrap Up timeout[1]  Max Wrap Up[45]  Action after Wrap Up timeout[READY]"),
              "NORMAL");
}

TEST_F(WrapUpTest, TimeOutAppliesTheActionOnceAndEndsWrapUp) {
    for (const char* action : {"READY", "LOGGED_OUT", "NOT_READY", "SOMETHING"}) {
        RecordingAgent fresh;
        WrapUpChecker timed(fresh);
        timed.setWrapUpSettings(action, "20", "1");
        timed.start();
        timed.setInWrapUp(true);
        ASSERT_TRUE(eventually([&] { return !fresh.applied().empty(); })) << action;
        EXPECT_FALSE(timed.inWrapUp());
        timed.stop();
        EXPECT_EQ(fresh.applied(), std::vector<std::string>{action});
        EXPECT_GE(fresh.releases, 1);
    }
    EXPECT_TRUE(log.contains(
        "WrapUpChecker::checkerThread() - Time out reached and agent was in Wrap Up, going into READY mode [20]"));
}

TEST_F(WrapUpTest, LeavingWrapUpDuringTheWaitAppliesNothing) {
    timeScale.set(0.05);  // a one-minute wrap-up lasts 3 s, long enough to leave it first
    checker.setWrapUpSettings("LOGGED_OUT", "60", "1");
    checker.start();
    checker.setInWrapUp(true);
    std::this_thread::sleep_for(100ms);
    checker.setInWrapUp(false);
    ASSERT_TRUE(eventually([&] {
        return log.contains(
            "WrapUpChecker::checkerThread() - Received the signal... not in wrap up anymore, nothing special to do.");
    }));
    checker.stop();
    EXPECT_TRUE(agent.applied().empty());
}

TEST_F(WrapUpTest, DisabledTimeOutNeverActs) {
    checker.setWrapUpSettings("READY", "0", "0");
    checker.start();
    checker.setInWrapUp(true);
    std::this_thread::sleep_for(30ms);
    checker.stop();
    EXPECT_TRUE(agent.applied().empty());
    EXPECT_TRUE(checker.inWrapUp());
}

TEST(CTimer, FormatsHoursMinutesAndSecondsAndCountsOnTheLabel) {
    EXPECT_EQ(CTimer::format(0, 5, 7), "0:05:07");
    EXPECT_EQ(CTimer::format(1, 10, 0), "1:10:00");
    EXPECT_EQ(CTimer::format(12, 59, 59), "12:59:59");

    ScopedTimeScale timeScale(0.001);
    HeadlessAgentWindow window;
    CTimer timer(window);
    timer.start();
    EXPECT_TRUE(timer.running());
    // The label passes a minute, carried into the minutes field ("0:01:xx" sorts after "0:00:59").
    ASSERT_TRUE(eventually([&] {
        const std::string text = window.callTimer();
        return text.size() == 7 && text >= "0:01:00";
    }));
    timer.reset();
    EXPECT_FALSE(timer.running());
    EXPECT_EQ(window.callTimer(), "");
}

TEST(CTimer, StartStopAndResetFromFourThreadsAtOnceLeaveAWorkingClock) {
    ScopedTimeScale timeScale(0.001);
    HeadlessAgentWindow window;
    CTimer timer(window);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&timer, t] {
            for (int i = 0; i < 300; ++i) {
                switch ((i + t) % 3) {
                case 0: timer.start(); break;
                case 1: timer.stop(); break;
                default: timer.reset(); break;
                }
            }
        });
    for (auto& thread : threads) thread.join();
    timer.reset();
    EXPECT_FALSE(timer.running());
    EXPECT_EQ(window.callTimer(), "");
    timer.start();
    EXPECT_TRUE(eventually([&] { return window.callTimer() >= "0:00:02"; }));
}
