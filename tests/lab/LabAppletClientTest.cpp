#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "infra/Timing.h"
#include "lab/LabTestWaits.h"
#include "lab/RawPeer.h"
#include "lab/applet/LabAppletClient.h"
#include "lab/applet/LabAppletRequests.h"

namespace {

using namespace std::chrono_literals;


// A heartbeat far longer than any test, so that only the heartbeat tests see one.
constexpr auto kNoHeartbeatInTests = std::chrono::hours(1000);

class LabAppletClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        Timing::setScale(0.01);
        ASSERT_TRUE(connectApplet());
    }
    void TearDown() override { Timing::setScale(1.0); }

    bool connectApplet() {
        if (!applet.connect()) return false;
        phone = listener.accept(kWait);
        return phone.valid() && phone.message(kWait) == "0,orvaneApplet";
    }

    RawListener listener;
    LabAppletClient applet{{listener.port(), true, kNoHeartbeatInTests}};
    RawConnection phone;
};

TEST_F(LabAppletClientTest, GreetsFirstThenSendsRequestsFramedWithTilde) {
    applet.send(labapplet::forceReady());
    applet.send(labapplet::dial("5551234", "77"));
    EXPECT_EQ(phone.messages(2, kWait), (std::vector<std::string>{labapplet::forceReady(), labapplet::dial("5551234", "77")}));
    EXPECT_EQ(phone.bytesFor(kQuiet), "");
}

TEST_F(LabAppletClientTest, SendsExactBytesMalformedTextsAndAFloodWithoutTilde) {
    applet.sendBytes("<RM_MSG_TYPE_FOR");
    applet.sendBytes("CE_READY></RM_MSG_TYPE_FORCE_READY>~58~");
    applet.send("<RM_MSG_TYPE_DIAL><Number>1</RM_MSG_TYPE_DIAL>");
    const std::string expected =
        "<RM_MSG_TYPE_FORCE_READY></RM_MSG_TYPE_FORCE_READY>~58~<RM_MSG_TYPE_DIAL><Number>1</RM_MSG_TYPE_DIAL>~";
    EXPECT_EQ(phone.bytes(expected.size(), kWait), expected);
    applet.sendFlood(300000);
    const std::string flood = phone.bytes(300000, kWait);
    EXPECT_EQ(flood.size(), 300000u);
    EXPECT_EQ(flood.find('~'), std::string::npos);
}

TEST_F(LabAppletClientTest, RecordsRepliesJoinedOrSplitAcrossReadsInOrder) {
    phone.send("58~3,Force Ready done!~10,Force hang");
    ASSERT_TRUE(applet.waitForReply("3,", kWait));
    std::this_thread::sleep_for(20ms);
    phone.send(" up done ~");
    EXPECT_EQ(applet.waitForReply("10,", kWait), "10,Force hang up done ");
    EXPECT_EQ(applet.replyTexts(), (std::vector<std::string>{"58", "3,Force Ready done!", "10,Force hang up done "}));
    const auto replies = applet.replies();
    EXPECT_LE(replies[0].at, replies[2].at);
    EXPECT_TRUE(applet.waitForReplyCount([](const std::string& text) { return text.find(',') != std::string::npos; }, 2,
                                         kWait));
    EXPECT_EQ(applet.waitForReply("1,", 10ms), std::nullopt);
    applet.clearReplies();
    EXPECT_TRUE(applet.replyTexts().empty());
}

TEST_F(LabAppletClientTest, SurvivesAReplyFloodWithoutTilde) {
    phone.send(std::string(LabFrameSplitter::kMaxPendingBytes + 4096, 'x'));
    phone.send("~58~");
    EXPECT_TRUE(applet.waitForReply([](const std::string& text) { return text == "58"; }, kWait));
    EXPECT_TRUE(applet.connected());
}

TEST_F(LabAppletClientTest, NoticesThePhoneClosingAndReconnectsWithANewGreeting) {
    phone.close();
    EXPECT_TRUE(applet.waitForDisconnection(kWait));
    EXPECT_FALSE(applet.connected());
    applet.send(labapplet::forceReady());  // dropped: no link

    ASSERT_TRUE(connectApplet());
    EXPECT_TRUE(applet.connected());
    EXPECT_EQ(phone.bytesFor(kQuiet), "");
}

TEST_F(LabAppletClientTest, DisconnectClosesTheLink) {
    applet.disconnect();
    EXPECT_TRUE(phone.closedWithin(kWait));
    EXPECT_FALSE(applet.connected());
}

TEST(LabAppletClientHeartbeat, BeatsAtTheIntervalUntilToldToStaySilent) {
    Timing::setScale(0.01);
    RawListener listener;
    LabAppletClient applet({listener.port(), false, 2s});  // 20 ms at this scale
    const auto started = std::chrono::steady_clock::now();  // the beats count from the connection
    ASSERT_TRUE(applet.connect());
    RawConnection phone = listener.accept(kWait);
    EXPECT_EQ(phone.messages(3, kWait), (std::vector<std::string>{"58", "58", "58"}));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 3 * Timing::scaled(2s));

    applet.setSilent(true);
    phone.bytesFor(kQuiet);  // a beat already on its way
    EXPECT_EQ(phone.bytesFor(kQuiet), "");
    EXPECT_FALSE(phone.closedWithin(10ms));
    applet.setSilent(false);
    EXPECT_EQ(phone.message(kWait), "58");
    Timing::setScale(1.0);
}

TEST(LabAppletClientConnect, FailsWhenNothingListens) {
    std::uint16_t freePort;
    {
        RawListener listener;
        freePort = listener.port();
    }
    LabAppletClient applet({freePort});
    EXPECT_FALSE(applet.connect());
    EXPECT_FALSE(applet.connected());
}

}  // namespace
