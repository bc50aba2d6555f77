#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "infra/Timing.h"
#include "lab/LabTestWaits.h"
#include "lab/RawPeer.h"
#include "lab/cti/LabCtiMessages.h"
#include "lab/cti/LabCtiServer.h"

namespace {

using namespace std::chrono_literals;


// A production interval as it passes in this run.
std::chrono::milliseconds scaled(std::chrono::milliseconds production) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Timing::scaled(production));
}

const std::string kHello = "0,orvane^NULL^cti.lab^1001^pw";
const std::string kLogin = "34,0^1001^pw^desk7^1.0.0.1";

class LabCtiServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Timing::setScale(0.01);
        ASSERT_TRUE(server.start());
        ASSERT_NE(server.port(), 0);
        phone = RawConnection::connectTo(server.port());
        ASSERT_TRUE(phone.valid());
        ASSERT_TRUE(server.waitForConnection(kWait));
    }
    void TearDown() override { Timing::setScale(1.0); }

    // Sends one framed message and returns the next `count` answers.
    std::vector<std::string> exchange(const std::string& message, std::size_t count) {
        phone.send(message + "~");
        return phone.messages(count, kWait);
    }
    // Sends one framed message and returns what arrives within kQuiet.
    std::string exchangeQuietly(const std::string& message) {
        phone.send(message + "~");
        return phone.bytesFor(kQuiet);
    }

    LabCtiServer server;
    RawConnection phone;
};

// ---- framing and recording ----

TEST_F(LabCtiServerTest, AnswersEachHeartbeatWithAHeartbeat) {
    EXPECT_EQ(exchange("58", 1), std::vector<std::string>{"58"});
    phone.send("58~58~");
    EXPECT_EQ(phone.bytes(6, kWait), "58~58~");
}

TEST_F(LabCtiServerTest, JoinsAMessageSplitAcrossReads) {
    phone.send("0,orvane^NU");
    std::this_thread::sleep_for(20ms);
    phone.send("LL^cti.lab^1001^pw~");
    EXPECT_EQ(phone.messages(3, kWait).size(), 3u);
    EXPECT_EQ(server.receivedTexts(), std::vector<std::string>{kHello});
}

TEST_F(LabCtiServerTest, HandlesSeveralMessagesOfOneReadInOrderAndKeepsTheTail) {
    phone.send("58~" + kLogin + "~3");
    const auto answers = phone.messages(2, kWait);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0], "58");
    EXPECT_TRUE(answers[1].starts_with("<MSG_TYPE_LOGIN_RESPONSE><Response>success</Response>"));
    phone.send("6,0^1001~");
    EXPECT_TRUE(server.waitFor("36,", kWait));
    EXPECT_EQ(server.receivedTexts(), (std::vector<std::string>{"58", kLogin, "36,0^1001"}));
}

TEST_F(LabCtiServerTest, RecordsEveryMessageInOrderWithItsTimeUntilCleared) {
    phone.send("36,0^1001~41,1700000000^5001^0^0^~137,5001~");
    ASSERT_TRUE(server.waitForCount([](const std::string&) { return true; }, 3, kWait));
    const auto received = server.received();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[1].text, "41,1700000000^5001^0^0^");
    EXPECT_LE(received[0].at, received[2].at);
    EXPECT_EQ(server.waitFor([](const std::string& text) { return text.starts_with("137,"); }, kWait), "137,5001");
    EXPECT_EQ(server.waitFor("999,", 10ms), std::nullopt);
    server.clearReceived();
    EXPECT_TRUE(server.receivedTexts().empty());
}

TEST_F(LabCtiServerTest, SurvivesGarbageAndAFloodWithoutTildeFromThePhone) {
    EXPECT_EQ(exchangeQuietly("\x01\x02 not a message <<<"), "");
    EXPECT_EQ(exchangeQuietly(""), "");
    phone.send(std::string(LabFrameSplitter::kMaxPendingBytes + 4096, 'x'));
    EXPECT_EQ(exchange("~58", 1), std::vector<std::string>{"58"});
    EXPECT_TRUE(server.connected());
    EXPECT_EQ(server.receivedTexts().front(), "\x01\x02 not a message <<<");
}

// ---- scripted answers ----

TEST_F(LabCtiServerTest, AnswersTheHelloWithSwitchGroupAndReasonsInOrder) {
    const auto answers = exchange(kHello, 3);
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0], labcti::getSwitch({}));
    EXPECT_EQ(answers[1], labcti::groupSoftphone({}));
    EXPECT_EQ(answers[2], "<MSG_TYPE_GET_NOTREADYREASON><Reason>Break^Lunch^Training</Reason></MSG_TYPE_GET_NOTREADYREASON>");
    EXPECT_EQ(phone.bytesFor(kQuiet), "");  // no recording server unless configured
}

TEST_F(LabCtiServerTest, HelloAnswersFollowTheOptionsAndMayBeLeftOut) {
    server.configure([](LabCtiOptions& options) {
        options.switchInfo = labcti::SwitchInfo{"", "", "", ""};
        options.group.reset();
        options.notReadyReasons.reset();
        options.recordServer = labcti::RecordServer{"127.0.0.1", "8766", "0"};
    });
    EXPECT_EQ(exchange(kHello, 2),
              (std::vector<std::string>{"<MSG_TYPE_GET_SWITCH><Switch></Switch><Port></Port><Codec></Codec>"
                                        "<IaxPassword></IaxPassword></MSG_TYPE_GET_SWITCH>",
                                        "<MSG_TYPE_GET_RECORD_SERVER><Host>127.0.0.1</Host><Port>8766</Port>"
                                        "<SSLConnection>0</SSLConnection></MSG_TYPE_GET_RECORD_SERVER>"}));
}

TEST_F(LabCtiServerTest, LoginIsAcceptedRefusedOrIgnoredAsConfigured) {
    EXPECT_EQ(exchange(kLogin, 1), std::vector<std::string>{labcti::loginSuccess({})});

    server.configure([](LabCtiOptions& options) {
        options.loginAnswer = LabLoginAnswer::Refuse;
        options.refusalReason = "Agent already logged in";
    });
    EXPECT_EQ(exchange(kLogin, 1), std::vector<std::string>{"<MSG_TYPE_LOGIN_RESPONSE><Response>failure</Response>"
                                                            "<Reason>Agent already logged in</Reason>"
                                                            "</MSG_TYPE_LOGIN_RESPONSE>"});
    server.configure([](LabCtiOptions& options) {
        options.refusalResponse.clear();
        options.refusalReason.clear();
    });
    EXPECT_EQ(exchange(kLogin, 1), std::vector<std::string>{"<MSG_TYPE_LOGIN_RESPONSE></MSG_TYPE_LOGIN_RESPONSE>"});

    server.configure([](LabCtiOptions& options) { options.loginAnswer = LabLoginAnswer::Ignore; });
    EXPECT_EQ(exchangeQuietly(kLogin), "");
}

TEST_F(LabCtiServerTest, LoginChecksThePasswordOfConfiguredAgents) {
    server.configure([](LabCtiOptions& options) { options.agents = {{"1001", "pw"}}; });
    EXPECT_EQ(exchange(kLogin, 1), std::vector<std::string>{labcti::loginSuccess({})});
    const std::string refusal = "<MSG_TYPE_LOGIN_RESPONSE><Response>failure</Response>"
                                "<Reason>Unknown agent or wrong password</Reason></MSG_TYPE_LOGIN_RESPONSE>";
    EXPECT_EQ(exchange("34,0^1001^wrong^desk7^1.0.0.1", 1), std::vector<std::string>{refusal});
    EXPECT_EQ(exchange("34,0^2002^pw^desk7^1.0.0.1", 1), std::vector<std::string>{refusal});
    EXPECT_EQ(exchange("34,0", 1), std::vector<std::string>{refusal});
}

TEST_F(LabCtiServerTest, AcknowledgesANotReadyPairOnceWithItsReason) {
    phone.send("37,0^1001~37,0^1001^Lunch~");
    EXPECT_EQ(phone.messages(1, kWait), std::vector<std::string>{labcti::agentNotReady("Lunch")});
    EXPECT_EQ(phone.bytesFor(kQuiet), "");
}

TEST_F(LabCtiServerTest, AcknowledgesAReasonlessNotReadyWhenThePairWindowEnds) {
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(exchange("37,5001^1001", 1), std::vector<std::string>{labcti::agentNotReady("")});
    EXPECT_GE(std::chrono::steady_clock::now() - sent, scaled(intervals::kLabNotReadyPairWindow));
    EXPECT_EQ(exchangeQuietly("37,5001^1001^Lunch"), "");  // the late copy
}

TEST_F(LabCtiServerTest, NotReadyAcknowledgementFollowsTheConfiguredRule) {
    server.configure([](LabCtiOptions& options) { options.notReadyAck = LabNotReadyAck::AfterFirst; });
    phone.send("37,0^1001~");
    EXPECT_EQ(phone.messages(1, kWait), std::vector<std::string>{labcti::agentNotReady("")});
    EXPECT_EQ(exchangeQuietly("37,0^1001^Lunch"), "");

    server.configure([](LabCtiOptions& options) { options.notReadyAck = LabNotReadyAck::Never; });
    phone.send("37,0^1001~37,0^1001^Lunch~");
    EXPECT_EQ(phone.bytesFor(scaled(intervals::kLabNotReadyPairWindow) * 3 + kQuiet), "");
}

TEST_F(LabCtiServerTest, AcknowledgesLogoutUnlessToldNot) {
    EXPECT_EQ(exchange("35,5001^1001^USER_REQUEST_CLOSE", 1),
              std::vector<std::string>{"<MSG_TYPE_AGENT_LOGOUT></MSG_TYPE_AGENT_LOGOUT>"});
    server.configure([](LabCtiOptions& options) { options.acknowledgeLogout = false; });
    EXPECT_EQ(exchangeQuietly("35,5001^1001^USER_REQUEST_CLOSE"), "");
}

TEST_F(LabCtiServerTest, AcknowledgesEachPersonalDialWithTheNextTrackNumber) {
    EXPECT_EQ(exchange("99,0^1001", 1), std::vector<std::string>{labcti::personalDial("9001")});
    EXPECT_EQ(exchange("99,0^1001", 1), std::vector<std::string>{labcti::personalDial("9002")});
    server.configure([](LabCtiOptions& options) { options.nextTrackNumber = 42; });
    EXPECT_EQ(exchange("99,0^1001", 1), std::vector<std::string>{labcti::personalDial("42")});
    EXPECT_EQ(server.options().nextTrackNumber, 43);
    server.configure([](LabCtiOptions& options) { options.acknowledgePersonalDial = false; });
    EXPECT_EQ(exchangeQuietly("99,0^1001"), "");
}

TEST_F(LabCtiServerTest, DelaysThePersonalDialAcknowledgementWhileStillAnsweringHeartbeats) {
    server.configure([](LabCtiOptions& options) { options.personalDialDelay = 20s; });  // 200 ms at this scale
    const auto sent = std::chrono::steady_clock::now();
    phone.send("99,0^1001~58~");
    EXPECT_EQ(phone.messages(2, kWait), (std::vector<std::string>{"58", labcti::personalDial("9001")}));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, scaled(20s));
}

TEST_F(LabCtiServerTest, AnswersTheDateTimeRequestWithTheConfiguredOrCurrentTime) {
    const labcti::DateTime time{"2024", "03", "07", "09", "05", "02"};
    server.configure([&time](LabCtiOptions& options) { options.dateTime = time; });
    EXPECT_EQ(exchange("275^", 1), std::vector<std::string>{labcti::ctiDateTime(time)});
    EXPECT_EQ(exchange("275,^", 1), std::vector<std::string>{labcti::ctiDateTime(time)});
    server.configure([](LabCtiOptions& options) { options.dateTime.reset(); });
    const auto answer = exchange("275^", 1);
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_TRUE(answer[0].starts_with("<MSG_TYPE_CTI_DATETIME><Year>20"));
}

TEST_F(LabCtiServerTest, AnswersAConsultCallRequestAsConfigured) {
    const std::string request = "324,<MSG_TYPE_CONSULT_CALL_REQUEST><REQUEST_DATA>1002</REQUEST_DATA>"
                                "<TRACKNUM>5001</TRACKNUM><REQUESTING_AGENT_ID>1001</REQUESTING_AGENT_ID>"
                                "<REQUEST_TYPE>AGENT</REQUEST_TYPE></MSG_TYPE_CONSULT_CALL_REQUEST>";
    EXPECT_EQ(exchange(request, 1), std::vector<std::string>{"<MSG_TYPE_CONSULT_CALL_REQUEST><REASON></REASON>"
                                                             "<RESPONSE>success</RESPONSE>"
                                                             "</MSG_TYPE_CONSULT_CALL_REQUEST>"});
    server.configure([](LabCtiOptions& options) {
        options.consultAnswer = LabConsultAnswer::Refuse;
        options.consultAnswerDelay = 5s;
    });
    EXPECT_EQ(exchange(request, 1), std::vector<std::string>{labcti::consultCallAnswer("failure", "Agent not available")});
    server.configure([](LabCtiOptions& options) { options.consultAnswer = LabConsultAnswer::Ignore; });
    EXPECT_EQ(exchangeQuietly(request), "");
}

TEST_F(LabCtiServerTest, LeavesAConsultCallRequestWithoutItsElementUnanswered) {
    EXPECT_EQ(exchangeQuietly("324,<MSG_TYPE_CONSULT_CALL_REQUEST><TRACKNUM>5001</TRACKNUM>"), "");
    EXPECT_EQ(exchangeQuietly("324,<MSG_TYPE_CONSULT_CALL_CANCELED></MSG_TYPE_CONSULT_CALL_CANCELED>"), "");
    EXPECT_EQ(exchangeQuietly("324"), "");
    EXPECT_EQ(exchange("58", 1), std::vector<std::string>{"58"});
}

TEST_F(LabCtiServerTest, OnlyRecordsMessagesItHasNoAnswerFor) {
    EXPECT_EQ(exchangeQuietly("36,0^1001"), "");
    EXPECT_EQ(exchangeQuietly("321,<MSG_TYPE_ADD_ATTACHED_DATA><TRACKNUM>5001</TRACKNUM></MSG_TYPE_ADD_ATTACHED_DATA>"), "");
    EXPECT_EQ(server.receivedTexts().size(), 2u);
}

// ---- pushes and faults ----

TEST_F(LabCtiServerTest, PushesMessagesTextsAndExactBytes) {
    server.push(labcti::terminateCall("5001"));
    server.push(LabElement("MSG_TYPE_HOLD_AGENT").add("Message", "hold"));
    server.pushBytes("<MSG_T");
    server.pushBytes("YPE_X></MSG_TYPE_X>~58~58");
    const std::string expected = "<MSG_TYPE_TERMINATE_CALL><TrackNumber>5001</TrackNumber></MSG_TYPE_TERMINATE_CALL>~"
                                 "<MSG_TYPE_HOLD_AGENT><Message>hold</Message></MSG_TYPE_HOLD_AGENT>~"
                                 "<MSG_TYPE_X></MSG_TYPE_X>~58~58";
    EXPECT_EQ(phone.bytes(expected.size(), kWait), expected);
    EXPECT_EQ(phone.bytesFor(kQuiet), "");
}

TEST_F(LabCtiServerTest, PushesGarbageAndAFrameThatNeverEnds) {
    server.pushGarbage();
    EXPECT_EQ(phone.messages(1, kWait), std::vector<std::string>{"\x01garbage<<not an element"});
    server.pushUnterminated(200000);
    const std::string flood = phone.bytes(200000, kWait);
    EXPECT_EQ(flood.size(), 200000u);
    EXPECT_EQ(flood.find('~'), std::string::npos);
}

TEST_F(LabCtiServerTest, SilentServerAnswersNothingKeepsTheLinkAndStillPushes) {
    server.setSilent(true);
    EXPECT_EQ(exchangeQuietly("58"), "");
    EXPECT_EQ(exchangeQuietly(kHello), "");
    EXPECT_FALSE(phone.closedWithin(kQuiet));
    EXPECT_TRUE(server.connected());
    server.push(labcti::terminateCall("5001"));
    EXPECT_EQ(phone.messages(1, kWait), std::vector<std::string>{labcti::terminateCall("5001")});
    EXPECT_EQ(server.receivedTexts(), (std::vector<std::string>{"58", kHello}));

    server.setSilent(false);
    EXPECT_EQ(exchange("58", 1), std::vector<std::string>{"58"});
}

TEST_F(LabCtiServerTest, SilenceAlsoHoldsBackDelayedAnswers) {
    server.configure([](LabCtiOptions& options) { options.personalDialDelay = 30s; });
    phone.send("99,0^1001~");
    ASSERT_TRUE(server.waitFor("99,", kWait));
    server.setSilent(true);
    EXPECT_EQ(phone.bytesFor(scaled(30s) + kQuiet), "");
}

TEST_F(LabCtiServerTest, DropClosesTheLinkAndTheNextPhoneIsServed) {
    server.dropConnection();
    EXPECT_TRUE(phone.closedWithin(kWait));
    EXPECT_TRUE(server.waitForDisconnection(kWait));
    EXPECT_EQ(server.connections(), 1);

    server.push("lost");  // nobody to send it to
    RawConnection next = RawConnection::connectTo(server.port());
    ASSERT_TRUE(server.waitForConnections(2, kWait));
    next.send("58~");
    EXPECT_EQ(next.messages(1, kWait), std::vector<std::string>{"58"});
}

TEST_F(LabCtiServerTest, ServesOnePhoneAtATime) {
    RawConnection second = RawConnection::connectTo(server.port());
    ASSERT_TRUE(second.valid());
    second.send("58~");
    EXPECT_EQ(second.bytesFor(kQuiet), "");
    EXPECT_EQ(server.connections(), 1);

    phone.close();
    ASSERT_TRUE(server.waitForConnections(2, kWait));
    EXPECT_EQ(second.messages(1, kWait), std::vector<std::string>{"58"});
}

TEST_F(LabCtiServerTest, NoticesThePhoneClosingAndRestartsOnTheSamePort) {
    phone.close();
    EXPECT_TRUE(server.waitForDisconnection(kWait));
    const auto port = server.port();
    RawConnection waiting = RawConnection::connectTo(port);
    ASSERT_TRUE(server.waitForConnections(2, kWait));
    server.stop();
    EXPECT_TRUE(waiting.closedWithin(kWait));
    EXPECT_FALSE(server.connected());

    ASSERT_TRUE(server.start());
    EXPECT_EQ(server.port(), port);
    RawConnection again = RawConnection::connectTo(port);
    ASSERT_TRUE(server.waitForConnections(3, kWait));
    again.send("58~");
    EXPECT_EQ(again.messages(1, kWait), std::vector<std::string>{"58"});
}

TEST(LabCtiServerStart, RefusesAPortInUseAndASecondStart) {
    LabCtiServer first;
    ASSERT_TRUE(first.start());
    EXPECT_FALSE(first.start());
    LabCtiOptions options;
    options.port = first.port();
    LabCtiServer second(options);
    EXPECT_FALSE(second.start());
}

}  // namespace
