#include <gtest/gtest.h>

#include "infra/Timing.h"
#include "voice/engine/iax/IaxDialog.h"
#include "voice/engine/iax/IaxWire.h"

using namespace iax;
using namespace std::chrono_literals;

namespace {
struct SentFrames : DatagramSender {
    std::vector<FullFrame> frames;
    std::vector<std::vector<std::uint8_t>> bytes;
    void send(const PeerAddress&, std::span<const std::uint8_t> datagram) override {
        bytes.emplace_back(datagram.begin(), datagram.end());
        frames.push_back(parseDatagram(bytes.back()).full);
    }
};

FullFrame fromPeer(std::uint8_t oseq, std::uint8_t iseq, std::uint8_t type = kControl, std::uint32_t subclass = 4) {
    FullFrame frame;
    frame.sourceCall = 900;
    frame.destinationCall = 10;
    frame.timestamp = 77;
    frame.oseq = oseq;
    frame.iseq = iseq;
    frame.type = type;
    frame.subclass = subclass;
    return frame;
}

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { Timing::setScale(1.0); }
    const Clock::time_point start = Clock::now();
    Dialog dialog{10, PeerAddress{}, start};
    SentFrames out;
};
}  // namespace

TEST_F(DialogTest, FramesInOrderAreDeliveredDuplicatesAcknowledgedAgainAndGapsAnsweredWithVnak) {
    EXPECT_EQ(dialog.receive(fromPeer(0, 0), out, start), Dialog::Receipt::Deliver);
    EXPECT_EQ(dialog.receive(fromPeer(1, 0), out, start), Dialog::Receipt::Deliver);
    EXPECT_TRUE(out.frames.empty());

    EXPECT_EQ(dialog.receive(fromPeer(0, 0), out, start), Dialog::Receipt::Duplicate);
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.frames[0].subclass, kAck);
    EXPECT_EQ(out.frames[0].timestamp, 77u);  // an ACK carries the acknowledged frame's timestamp
    EXPECT_EQ(out.frames[0].iseq, 2);
    EXPECT_EQ(out.frames[0].destinationCall, 900);

    EXPECT_EQ(dialog.receive(fromPeer(5, 0), out, start), Dialog::Receipt::OutOfOrder);
    EXPECT_EQ(out.frames.back().subclass, kVnak);
    EXPECT_EQ(out.frames.back().iseq, 2);  // resend from the first missing frame

    EXPECT_EQ(dialog.receive(fromPeer(2, 0, kIax, kAck), out, start), Dialog::Receipt::Unsequenced);
    EXPECT_EQ(dialog.receive(fromPeer(2, 0), out, start), Dialog::Receipt::Deliver);  // ACK used no number
}

TEST_F(DialogTest, ReliableFramesAreResentWithBackOffUntilAcknowledgedOrGivenUp) {
    dialog.setPeerCall(900);
    dialog.send(out, kIax, kPing, {}, start);
    dialog.send(out, kIax, kPing, {}, start + 1ms);
    ASSERT_EQ(out.frames.size(), 2u);
    EXPECT_EQ(out.frames[0].oseq, 0);
    EXPECT_EQ(out.frames[1].oseq, 1);

    EXPECT_TRUE(dialog.retransmit(out, start + 499ms));
    EXPECT_EQ(out.frames.size(), 2u);
    EXPECT_TRUE(dialog.retransmit(out, start + 501ms));
    ASSERT_EQ(out.frames.size(), 4u);
    EXPECT_TRUE(out.frames[2].retransmitted);
    EXPECT_EQ(out.frames[2].oseq, 0);
    EXPECT_TRUE(dialog.retransmit(out, start + 1000ms));  // the next resend waits twice as long
    EXPECT_EQ(out.frames.size(), 4u);
    EXPECT_TRUE(dialog.retransmit(out, start + 1502ms));
    EXPECT_EQ(out.frames.size(), 6u);

    // The peer's next frame acknowledges the first one by its iseqno.
    dialog.receive(fromPeer(0, 1), out, start + 1600ms);
    EXPECT_FALSE(dialog.settled());
    dialog.receive(fromPeer(0, 2, kIax, kAck), out, start + 1700ms);
    EXPECT_TRUE(dialog.settled());

    dialog.send(out, kIax, kPing, {}, start + 2s);
    EXPECT_TRUE(dialog.retransmit(out, start + 11s));
    EXPECT_FALSE(dialog.retransmit(out, start + 12s));  // ten seconds without an acknowledgement
}

TEST_F(DialogTest, VnakResendsEverythingAndACallTokenRestartsTheExchange) {
    dialog.send(out, kIax, kNew, {}, start);
    dialog.send(out, kIax, kPing, {}, start);
    out.frames.clear();
    dialog.resendAll(out, start + 1ms);
    ASSERT_EQ(out.frames.size(), 2u);
    EXPECT_EQ(out.frames[0].oseq, 0);
    EXPECT_EQ(out.frames[1].oseq, 1);

    dialog.setPeerCall(900);
    dialog.restart();
    EXPECT_TRUE(dialog.settled());
    EXPECT_EQ(dialog.peerCall(), 0);
    dialog.send(out, kIax, kNew, {}, start + 20ms);
    EXPECT_EQ(out.frames.back().oseq, 0);
    EXPECT_EQ(out.frames.back().timestamp, 20u);  // the clock runs on from the first attempt
}
