#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "infra/ThreadGroup.h"
#include "support/LogCapture.h"

TEST(ThreadGroup, AWorkerThatThrowsIsLoggedAndTheOthersStillRun) {
    LogCapture log;
    std::atomic<int> ran{0};
    {
        ThreadGroup group;
        group.start("failingWorker", [] { throw std::runtime_error("boom"); });
        group.start("unknownFailure", [] { throw 42; });
        group.start("nextWorker", [&] { ++ran; });
        group.join();
    }
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(log.levelOf("Unhandled exception in failingWorker: boom"), "ERROR");
    EXPECT_TRUE(log.contains("Unhandled exception in unknownFailure: unknown exception"));
}
