#include <gtest/gtest.h>

#include <poll.h>

#include <atomic>
#include <thread>

#include "app/StopSignals.h"

// The headless phone sleeps on the descriptor until a change is notified: a notification that
// races the waiter's take must still leave the descriptor readable, or the view goes deaf.
TEST(Wakeup, ANotificationRacingTheTakeIsNeverLost) {
    Wakeup wake;
    constexpr int kChanges = 200000;
    std::atomic<int> made{0};
    std::thread changer([&] {
        for (int change = 1; change <= kChanges; ++change) {
            made = change;
            wake.notify();
        }
    });
    int seen = 0;
    while (seen < kChanges) {
        pollfd entry{wake.fd(), POLLIN, 0};
        if (::poll(&entry, 1, 5000) <= 0) break;  // every change made is notified, so this is a lost one
        wake.take();
        seen = made;
    }
    changer.join();
    EXPECT_EQ(seen, kChanges);
}
