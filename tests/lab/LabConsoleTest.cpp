#include <gtest/gtest.h>

#include <chrono>

#include "infra/Timing.h"
#include "lab/LabTestWaits.h"
#include "lab/RawPeer.h"
#include "lab/applet/LabAppletClient.h"
#include "lab/applet/LabAppletConsole.h"
#include "lab/applet/LabAppletRequests.h"
#include "lab/cti/LabCtiConsole.h"
#include "lab/cti/LabCtiMessages.h"
#include "lab/cti/LabCtiServer.h"

namespace {

using namespace std::chrono_literals;


class LabCtiConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.start());
        phone = RawConnection::connectTo(server.port());
        ASSERT_TRUE(server.waitForConnection(kWait));
    }

    // Runs a command and returns the message it sent to the phone.
    std::optional<std::string> pushed(const std::string& command) {
        EXPECT_EQ(console.execute(command), "ok");
        return phone.message(kWait);
    }

    LabCtiServer server;
    LabCtiConsole console{server};
    RawConnection phone;
};

TEST_F(LabCtiConsoleTest, PushesCallMessagesFromTheirArguments) {
    const auto distribute = pushed("distribute 5001 http://crm/?id=7 5551234");
    ASSERT_TRUE(distribute);
    EXPECT_TRUE(distribute->starts_with("<MSG_TYPE_QUEUE_DISTRIBUTE><TrackNumber>5001</TrackNumber><CurrentDateTime>20"));
    EXPECT_TRUE(distribute->ends_with("</CurrentDateTime><Ani>5551234</Ani><Url>http://crm/?id=7</Url>"
                                      "</MSG_TYPE_QUEUE_DISTRIBUTE>"));
    EXPECT_EQ(pushed("terminate 5001"), labcti::terminateCall("5001"));
    EXPECT_EQ(pushed("preview 6001 5550000 http://crm/p Spring"),
              labcti::dialPreview({"http://crm/p", "5550000", "1", "LabTable", "Spring", "Lab Customer", "5550000", "6001"}));
    EXPECT_EQ(pushed("tracknum 5002 1"), labcti::velmoraTracknum("5002", "1"));
    server.configure([](LabCtiOptions& options) { options.screenPopUrl = "http://127.0.0.1:8780/form"; });
    const auto byDefault = pushed("distribute 5003");  // the lab web server's form
    ASSERT_TRUE(byDefault);
    EXPECT_NE(byDefault->find("<TrackNumber>5003</TrackNumber>"), std::string::npos);
    EXPECT_NE(byDefault->find("<Url>http://127.0.0.1:8780/form</Url>"), std::string::npos);
}

TEST_F(LabCtiConsoleTest, PushesNoticesWithFreeText) {
    EXPECT_EQ(pushed("message STAT #00FF00 Queue  is long"), labcti::messageCenterInfo({"Queue  is long", "#00FF00", "1", "STAT"}));
    EXPECT_EQ(pushed("hold Supervisor hold"), labcti::holdAgent("Supervisor hold"));
    EXPECT_EQ(pushed("logout-agent SUPERVISOR End of shift"), labcti::logoutAgent("End of shift", "SUPERVISOR"));
    EXPECT_EQ(pushed("submit 1001 submit_required"),
              labcti::submitNotify({"1001", "LabClient", "LabCampaign", "submit_required", ""}));
    EXPECT_EQ(pushed("record-server 127.0.0.1 8766"), labcti::recordServer({"127.0.0.1", "8766", "0"}));
    EXPECT_EQ(pushed("raw 58"), "58");
}

TEST_F(LabCtiConsoleTest, PlaysFaultsAndWaitsForThePhone) {
    EXPECT_EQ(console.execute("silent on"), "ok");
    phone.send("58~");
    EXPECT_EQ(console.execute("wait-for 58 2"), "ok: 58");
    EXPECT_EQ(phone.bytesFor(50ms), "");
    EXPECT_EQ(console.execute("silent off"), "ok");
    EXPECT_EQ(console.execute("clear"), "ok");
    EXPECT_EQ(console.execute("wait-for 58 0"), "error: nothing starting with 58");
    EXPECT_EQ(console.execute("drop"), "ok");
    EXPECT_TRUE(phone.closedWithin(kWait));
    EXPECT_TRUE(server.waitForDisconnection(kWait));
    RawConnection next = RawConnection::connectTo(server.port());
    EXPECT_EQ(console.execute("wait-connection 2"), "ok");
}

TEST_F(LabCtiConsoleTest, RefusesUnknownCommandsAndMissingArguments) {
    EXPECT_EQ(console.execute(""), "");
    EXPECT_EQ(console.execute("# the morning"), "");
    EXPECT_EQ(console.execute("dance"), "error: unknown command dance (try help)");
    EXPECT_EQ(console.execute("distribute 5001"), "error: usage: distribute TRACK [URL [ANI]]");
    EXPECT_EQ(console.execute("flood lots"), "error: usage: flood BYTES");
    EXPECT_EQ(console.execute("silent maybe"), "error: usage: silent on|off");
    EXPECT_EQ(console.execute("sleep -1"), "error: usage: sleep MILLISECONDS");
    EXPECT_NE(console.execute("help").find("distribute TRACK [URL [ANI]]"), std::string::npos);
    phone.send("58~");
    EXPECT_EQ(phone.message(kWait), "58");  // nothing else was sent
}

TEST(LabAppletConsole, SendsEveryRequestAndWaitsForReplies) {
    Timing::setScale(0.01);
    RawListener listener;
    LabAppletClient applet({listener.port(), true, std::chrono::hours(1000)});
    LabAppletConsole console(applet);
    ASSERT_EQ(console.execute("connect"), "ok");
    RawConnection phone = listener.accept(kWait);
    for (const char* command : {"ready", "unconditional-ready", "dial 5551234 77", "title A-B-OK.submit:sent", "connected",
                                "hangup", "raw 58"})
        EXPECT_EQ(console.execute(command), "ok") << command;
    EXPECT_EQ(phone.messages(8, kWait),
              (std::vector<std::string>{"0,orvaneApplet", labapplet::forceReady(), labapplet::unconditionalReady(),
                                        labapplet::dial("5551234", "77"), labapplet::titleChange("A-B-OK.submit:sent"),
                                        labapplet::connected(), labapplet::forceHangup(), "58"}));
    phone.send("3,Force Ready done!~");
    EXPECT_EQ(console.execute("wait-reply 3, 2"), "ok: 3,Force Ready done!");
    EXPECT_EQ(console.execute("wait-reply 10, 0"), "error: no reply starting with 10,");
    EXPECT_EQ(console.execute("dial"), "error: usage: dial NUMBER [TRACK]");
    EXPECT_EQ(console.execute("disconnect"), "ok");
    EXPECT_TRUE(phone.closedWithin(kWait));
    Timing::setScale(1.0);
}

}  // namespace
