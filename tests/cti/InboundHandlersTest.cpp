#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "AgentVocabulary.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "core/AgentStatus.h"
#include "cti/CTIConnection.h"
#include "cti/CtiAgent.h"
#include "cti/CtiSession.h"
#include "cti/InboundMessages.h"
#include "support/LogCapture.h"

namespace {

using ::testing::_;
using ::testing::NiceMock;
using ::testing::StrictMock;

class MockControl : public CtiAgentControl {
public:
    MOCK_METHOD(void, QueuePhoneEvent, (int), (override));
    MOCK_METHOD(bool, isClosing, (), (const, override));
    MOCK_METHOD(bool, inAgentReadyState, (), (const, override));
    MOCK_METHOD(bool, doAgentNotReady, (), (override));
    MOCK_METHOD(void, doUnconditionalAgentLogout, (bool), (override));
    MOCK_METHOD(void, startAgentLogout, (), (override));
    MOCK_METHOD(void, ReceivedTerminateCall, (const std::string&), (override));
    MOCK_METHOD(void, SendLoginToCti, (), (override));
    MOCK_METHOD(void, SendLogoutToCti, (), (override));
    MOCK_METHOD(void, resetCallTimer, (), (override));
    MOCK_METHOD(void, CloseConnection, (), (override));
};

class MockSettings : public CtiSettings {
public:
    MOCK_METHOD(void, setAsteriskHost, (const std::string&), (override));
    MOCK_METHOD(void, setAsteriskPort, (int), (override));
    MOCK_METHOD(void, setAsteriskCodec, (const std::string&), (override));
    MOCK_METHOD(void, setAsteriskIaxPassword, (const std::string&), (override));
    MOCK_METHOD(void, applyVoiceFormat, (), (override));
    MOCK_METHOD(void, registerWithSwitch, (), (override));
    MOCK_METHOD(void, setAutoUpdateSettings,
                (const std::string&, const std::string&, const std::string&, const std::string&), (override));
    MOCK_METHOD(void, setRecordingSettings,
                (const std::string&, const std::string&, const std::string&, const std::string&, const std::string&,
                 const std::string&, const std::string&),
                (override));
    MOCK_METHOD(void, setWrapUpSettings, (const std::string&, const std::string&, const std::string&), (override));
    MOCK_METHOD(void, setPermissions, (bool, bool, bool), (override));
    MOCK_METHOD(void, setRecordServer, (const std::string&, int, bool), (override));
};

class MockLines : public CtiLines {
public:
    MOCK_METHOD(bool, selectIaxLine, (int), (override));
    MOCK_METHOD(int, selectedCall, (), (override));
    MOCK_METHOD(void, unquelchAllCalls, (), (override));
    MOCK_METHOD(void, setLineTrackNum, (const std::string&, int), (override));
    MOCK_METHOD(std::string, getVelmoraTrackNum, (int), (override));
    MOCK_METHOD(bool, lineIsUp, (int), (override));
    MOCK_METHOD(void, clearLineTrackNums, (), (override));
    MOCK_METHOD(void, clearCallHeldFlags, (), (override));
    MOCK_METHOD(void, RemoveHold, (), (override));
    MOCK_METHOD(void, holdCurrentCall, (), (override));
};

class MockScreen : public CtiScreen {
public:
    MOCK_METHOD(void, showTicker, (const TickerText&), (override));
    MOCK_METHOD(void, openScreenPop, (const std::string&), (override));
    MOCK_METHOD(void, OnSubmitNotify, (const std::string&), (override));
    MOCK_METHOD(void, openDialPad, (), (override));
    MOCK_METHOD(void, refreshAttachedData, (), (override));
    MOCK_METHOD(void, setNotReadyReasons, (const std::vector<std::string>&), (override));
    MOCK_METHOD(void, queueAlert, (const MessageCenterItem&), (override));
    MOCK_METHOD(void, queueStatistic, (const MessageCenterItem&), (override));
    MOCK_METHOD(void, signalConsultCallResult, (bool), (override));
};

// Each message is handled against strict fakes of the parts it may touch and quiet ones of the rest.
class InboundHandlersTest : public ::testing::Test {
protected:
    void handle(const std::string& message) { inbound.handle(message, link); }

    LogCapture log;
    NiceMock<MockControl> control;
    NiceMock<MockSettings> settings;
    NiceMock<MockLines> lines;
    NiceMock<MockScreen> screen;
    CtiAgent agent{control, settings, lines, screen};
    CtiSession session;
    Call call;
    AgentProfile profile;
    AgentStatus status;
    InboundMessages inbound{session, call, profile, status, agent};
    CTIConnection link{agent, inbound};
};

TEST_F(InboundHandlersTest, ATerminateActsOnceAndOnlyForTheCurrentCall) {
    call.start("T1");
    EXPECT_CALL(control, ReceivedTerminateCall("T1")).Times(1);
    handle("<MSG_TYPE_TERMINATE_CALL><TrackNumber>T0</TrackNumber></MSG_TYPE_TERMINATE_CALL>");
    handle("<MSG_TYPE_TERMINATE_CALL><TrackNumber>T1</TrackNumber></MSG_TYPE_TERMINATE_CALL>");
    handle("<MSG_TYPE_TERMINATE_CALL><TrackNumber>T1</TrackNumber></MSG_TYPE_TERMINATE_CALL>");
    EXPECT_TRUE(log.contains("Incorrect TrackNumber !!!"));
    EXPECT_TRUE(log.contains("Already received the good Terminate Call !!!"));

    // A preview's track number awaits its own terminate.
    ::testing::Mock::VerifyAndClearExpectations(&control);
    handle("<MSG_TYPE_DIAL_PREVIEW><VelmoraTracknum>T2</VelmoraTracknum><NumberToDial>0612</NumberToDial>"
           "<Url>http://crm/p</Url></MSG_TYPE_DIAL_PREVIEW>");
    EXPECT_CALL(control, ReceivedTerminateCall("T2")).Times(1);
    handle("<MSG_TYPE_TERMINATE_CALL><TrackNumber>T2</TrackNumber></MSG_TYPE_TERMINATE_CALL>");
}

TEST_F(InboundHandlersTest, GroupSettingsGoToTheSettingsAndTheAgentsProfile) {
    StrictMock<MockSettings> strict;
    CtiAgent strictAgent{control, strict, lines, screen};
    InboundMessages handler{session, call, profile, status, strictAgent};
    EXPECT_CALL(strict, setPermissions(true, false, true));
    handler.handle("<MSG_TYPE_GET_GRP_SOFTPHONE><ButtonDialState>1</ButtonDialState><ButtonTransferState>0"
                   "</ButtonTransferState><ButtonConfState>1</ButtonConfState><ReadyAfterLogin>1</ReadyAfterLogin>"
                   "<AddPrefixToCall>1</AddPrefixToCall><CallPrefix>9</CallPrefix><RecDefaultClient>ACME"
                   "</RecDefaultClient><RecDefaultCampaign>Spring</RecDefaultCampaign></MSG_TYPE_GET_GRP_SOFTPHONE>",
                   link);
    EXPECT_TRUE(profile.readyAfterLogin);
    EXPECT_EQ(profile.callPrefix.get(), "9");
    EXPECT_EQ(profile.defaultClient.get(), "ACME");
    EXPECT_EQ(profile.defaultCampaign.get(), "Spring");
}

TEST_F(InboundHandlersTest, APersonalDialAnswerOpensTheDialPadUnlessTheClientAskedForTheDial) {
    EXPECT_CALL(lines, setLineTrackNum("T5", CtiLines::kSelectedLine));
    EXPECT_CALL(screen, openDialPad()).Times(0);
    call.beginRemoteDial("0612");
    handle("<MSG_TYPE_PERSONAL_DIAL><VelmoraTracknum>T5</VelmoraTracknum></MSG_TYPE_PERSONAL_DIAL>");
    EXPECT_FALSE(call.snapshot().remoteDial);
    ::testing::Mock::VerifyAndClearExpectations(&screen);

    EXPECT_CALL(lines, setLineTrackNum("T6", CtiLines::kSelectedLine));
    EXPECT_CALL(screen, openDialPad()).Times(1);
    handle("<MSG_TYPE_PERSONAL_DIAL><VelmoraTracknum>T6</VelmoraTracknum></MSG_TYPE_PERSONAL_DIAL>");
    EXPECT_EQ(call.snapshot().trackNumber, "T6");
}

TEST_F(InboundHandlersTest, ADataScreenPopTagsTheCallAsInboundForTheGroupsClient) {
    profile.defaultClient.set("ACME");
    call.setDialDestination("0612");
    EXPECT_CALL(control, QueuePhoneEvent(agent::InCallEvent));
    EXPECT_CALL(screen, openScreenPop(_)).Times(0);
    handle("<MSG_TYPE_QUEUE_DISTRIBUTE><TrackNumber>T7</TrackNumber><Ani>555</Ani>"
           "<Url>data:Hello?x</Url></MSG_TYPE_QUEUE_DISTRIBUTE>");
    const Call::Snapshot seen = call.snapshot();
    EXPECT_EQ(seen.trackNumber, "T7");
    EXPECT_EQ(seen.ani, "555");
    EXPECT_EQ(seen.dialDestination, "");
    EXPECT_TRUE(seen.tags.tagged);
    EXPECT_EQ(seen.tags.client + "|" + seen.tags.campaign + "|" + seen.tags.status, "ACME|Inbound|000");
}

}  // namespace
