// The main job's demonstration stopped with Ctrl-C in the middle of the day.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "lab/demo/LabChildProcess.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the demo printed so far, collected from the relay's thread.
class PrintedLines {
public:
    void add(const std::string& line) {
        std::lock_guard guard(lock_);
        text_ += line + "\n";
    }
    std::string text() {
        std::lock_guard guard(lock_);
        return text_;
    }

private:
    std::mutex lock_;
    std::string text_;
};

}  // namespace

// Started with posix_spawn, as the lab starts the phone: a child started by vfork from
// instrumented code confuses ThreadSanitizer's view of this process.
TEST(DemoInterruptTest, CtrlCEndsTheDayAtOnceWithOneHonestLine) {
    TempDir folder;
    PrintedLines printed;
    auto demo = std::make_unique<LabChildProcess>();
    ASSERT_TRUE(demo->start({ORVANE_LAB_DEMO, "--phone", ORVANE_PROGRAM, "--folder", folder.str() + "/phone", "--talk",
                             "30"},
                            {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""},
                             {"ORVANE_TIME_SCALE", "1"}, {"HOME", folder.str()}},
                            folder.str(), folder.str() + "/demo-stderr.txt",
                            [&](const std::string& line) { printed.add(line); }));
    const auto talking = Clock::now() + std::chrono::seconds(60);
    while (printed.text().find("the customer and the agent talk") == std::string::npos && Clock::now() < talking &&
           demo->running())
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string before = printed.text();
    ASSERT_NE(before.find("the customer and the agent talk"), std::string::npos) << before;

    const auto interrupted = Clock::now();
    ::kill(demo->pid(), SIGINT);
    while (demo->running() && Clock::now() < interrupted + std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto taken = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - interrupted);
    ASSERT_FALSE(demo->running()) << "still running 10 s after Ctrl-C";
    EXPECT_EQ(demo->stop(std::chrono::milliseconds(0)), 130);
    demo.reset();  // the relay has read everything
    const std::string after = printed.text().substr(before.size());
    EXPECT_TRUE(after == "lab: demo stopped (Ctrl-C): the phone closed cleanly\n" ||
                after == "lab: demo stopped (Ctrl-C): the phone did not close within 1.7 s and was killed\n")
        << after;
    std::printf("Ctrl-C to the end of the demo: %lld ms\n", static_cast<long long>(taken.count()));
}
