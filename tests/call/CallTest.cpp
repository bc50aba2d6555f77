#include "call/Call.h"

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

TEST(Call, ANewTrackNumberTakesTheServersTerminateOnceAndOnlyForItself) {
    Call call;
    call.start("T1");
    EXPECT_EQ(call.terminate("T0"), Call::Terminate::WrongCall);
    EXPECT_EQ(call.terminate("T1"), Call::Terminate::Accepted);
    EXPECT_EQ(call.terminate("T1"), Call::Terminate::AlreadyReceived);
    EXPECT_TRUE(call.snapshot().terminateReceived);

    // Whichever way the next call comes, its own terminate is awaited again.
    call.startPreview({"T2", "0612", "ACME", "0800", "Winter", "R7", "leads"});
    EXPECT_FALSE(call.snapshot().terminateReceived);
    EXPECT_EQ(call.terminate("T2"), Call::Terminate::Accepted);
    call.startDistributed("T3", "2026.12.08.10.05.09", "555");
    EXPECT_EQ(call.terminate("T3"), Call::Terminate::Accepted);
    const Call::Snapshot distributed = call.snapshot();
    EXPECT_EQ(distributed.ani, "555");
    EXPECT_EQ(distributed.callDateTimeParts, (CallDateTime{"2026", "12", "08", "10", "05", "09"}));
}

TEST(Call, CutsTheNumbersOnceWhoeverSetsThem) {
    Call call;
    const std::string longNumber(130, '7');
    call.setDialledNumber(longNumber);
    EXPECT_EQ(call.snapshot().dialledNumber, std::string(20, '7'));
    EXPECT_EQ(call.setDialDestination(longNumber), std::string(100, '7'));
    // The switch's routing prefix comes on top of a chosen destination.
    call.prefixDialDestination("AGTDIST");
    EXPECT_EQ(call.snapshot().dialDestination, "AGTDIST" + std::string(100, '7'));

    call.startPreview({"T1", longNumber, "", "", "", "", ""});
    EXPECT_EQ(call.snapshot().dialledNumber, std::string(20, '7'));
    EXPECT_EQ(call.snapshot().ani, longNumber);

    call.beginRemoteDial("0612345678901234567890");
    const Call::Snapshot remote = call.snapshot();
    EXPECT_EQ(remote.dialledNumber, "06123456789012345678");
    EXPECT_EQ(remote.dialDestination, "0612345678901234567890");
    EXPECT_TRUE(remote.remoteDial);
    EXPECT_TRUE(call.takeRemoteDial());
    EXPECT_FALSE(call.takeRemoteDial());  // the personal-dial answer opens the dial pad next time
}

TEST(Call, AnAniAlreadyKnownIsNotReplacedByTheScreenPopsOne) {
    Call call;
    call.startDistributed("T1", "", "");
    EXPECT_TRUE(call.setAniIfUnknown("0612"));
    EXPECT_FALSE(call.setAniIfUnknown("0699"));
    EXPECT_EQ(call.snapshot().ani, "0612");
}

// A message built from one snapshot never mixes two calls, whatever changes the call meanwhile.
TEST(Call, ASnapshotNeverMixesTwoCalls) {
    Call call;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            const std::string n = std::to_string(i % 2);
            call.startPreview({"T" + n, "06" + n, "", "", "", "R" + n, "table" + n});
        }
        done = true;
    });
    int mixed = 0;
    while (!done) {
        const Call::Snapshot seen = call.snapshot();
        if (seen.trackNumber.empty()) continue;
        const char n = seen.trackNumber.back();
        if (seen.dialledNumber.back() != n || seen.recordId.back() != n || seen.tableName.back() != n) ++mixed;
    }
    writer.join();
    EXPECT_EQ(mixed, 0);
}

}  // namespace
