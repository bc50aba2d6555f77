#include <gtest/gtest.h>

#include "infra/Timing.h"

TEST(Timing, ScalesEveryIntervalAndRejectsScalesOutsideZeroToOne) {
    using namespace std::chrono_literals;
    Timing::setScale(0.01);
    EXPECT_EQ(Timing::scaled(30s), 300ms);
    EXPECT_EQ(Timing::scaled(50us), 1us);  // never rounds a wait down to nothing
    Timing::setScale(0.0);
    Timing::setScale(7.0);
    EXPECT_EQ(Timing::scale(), 0.01);
    Timing::setScale(1.0);
    EXPECT_EQ(Timing::scaled(5ms), 5ms);
}
