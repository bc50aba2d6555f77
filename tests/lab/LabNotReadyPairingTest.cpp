#include <gtest/gtest.h>

#include "lab/cti/LabNotReadyPairing.h"

namespace {

using namespace std::chrono_literals;
using Clock = LabNotReadyPairing::Clock;
using Reasons = std::vector<std::string>;

LabFieldMessage notReady(const std::string& text) { return LabFieldMessage::parse(text); }

class NotReadyPairingTest : public ::testing::Test {
protected:
    Reasons send(const std::string& text, LabNotReadyAck rule = LabNotReadyAck::AfterPair) {
        return pairing.onMessage(notReady(text), rule, now, 100ms);
    }

    LabNotReadyPairing pairing;
    Clock::time_point now = Clock::now();
};

TEST_F(NotReadyPairingTest, AfterPairAcknowledgesThePairOnceWithItsReason) {
    EXPECT_TRUE(send("37,0^1001").empty());
    EXPECT_EQ(pairing.nextDue(), now + 100ms);
    now += 10ms;
    EXPECT_EQ(send("37,0^1001^Lunch"), Reasons{"Lunch"});
    EXPECT_EQ(pairing.nextDue(), std::nullopt);
    EXPECT_EQ(pairing.onTime(now + 1s), std::nullopt);
}

TEST_F(NotReadyPairingTest, AfterPairAcknowledgesALoneMessageWhenTheWindowEndsAndNotItsLateCopy) {
    EXPECT_TRUE(send("37,5^1001").empty());
    EXPECT_EQ(pairing.onTime(now + 99ms), std::nullopt);
    EXPECT_EQ(pairing.onTime(now + 100ms), "");
    now += 200ms;
    EXPECT_TRUE(send("37,5^1001^Lunch").empty());
    // A later pair is acknowledged normally.
    EXPECT_TRUE(send("37,5^1001").empty());
    EXPECT_EQ(send("37,5^1001^Break"), Reasons{"Break"});
}

TEST_F(NotReadyPairingTest, AfterPairAcknowledgesAWaitingMessageAtOnceWhenAnotherSenderFollows) {
    EXPECT_TRUE(send("37,0^1001").empty());
    EXPECT_EQ(send("37,0^1002"), Reasons{""});
    EXPECT_EQ(send("37,7^1002^Lunch"), (Reasons{"", "Lunch"}));
    EXPECT_EQ(send("37,7^1003^Lunch"), Reasons{"Lunch"});  // a reasoned message alone is acknowledged
}

TEST_F(NotReadyPairingTest, AfterFirstAcknowledgesAtOnceWithoutReasonAndSkipsTheCopy) {
    EXPECT_EQ(send("37,0^1001", LabNotReadyAck::AfterFirst), Reasons{""});
    EXPECT_TRUE(send("37,0^1001^Lunch", LabNotReadyAck::AfterFirst).empty());
    EXPECT_EQ(pairing.nextDue(), std::nullopt);
}

TEST_F(NotReadyPairingTest, NeverAcknowledgesAnything) {
    EXPECT_TRUE(send("37,0^1001", LabNotReadyAck::Never).empty());
    EXPECT_TRUE(send("37,0^1001^Lunch", LabNotReadyAck::Never).empty());
    EXPECT_EQ(pairing.onTime(now + 1s), std::nullopt);
}

}  // namespace
