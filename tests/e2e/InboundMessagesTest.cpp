#include "PhoneFixture.h"

#include "cti/CtiSession.h"

namespace {

// Server messages a logged-in phone receives, each checked on the phone's state, screen and replies.
class InboundMessagesTest : public PhoneFixture {
protected:
    void distributeCall(const std::vector<labcti::AttachedGroup>& extraData = {}) {
        server.push(labcti::queueDistribute({"T1", "2026.12.08.10.00.00", "555", "", std::nullopt, extraData}));
        ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    }
    // Pushes a track number for line 3 after `message`: once it is tagged, the receiver has
    // handled everything before it.
    void pushAndWait(const std::string& message) {
        const std::string mark = "M" + std::to_string(++marks_);
        server.push(message);
        server.push(labcti::velmoraTracknum(mark, "2"));
        ASSERT_TRUE(eventually([&] { return voice.iaxc_get_call_tag(2).value_or("") == mark; }));
    }
    std::vector<std::string> attachedKeys() {
        std::vector<std::string> keys;
        core.ctiSession().withCallData([&](CallData& data) {
            for (const AttachedData& item : data.attachedData().items()) keys.push_back(item.key);
        });
        return keys;
    }

private:
    int marks_ = 0;
};

}  // namespace

TEST_F(InboundMessagesTest, HoldAgentShowsItsMessageAndPutsTheCustomerOnHold) {
    loginNotReady();
    goReady();
    distributeCall();
    server.clearReceived();
    server.push(labcti::holdAgent("Supervisor holds your call"));
    EXPECT_EQ(sent("100,"), "100,0^1001^T1");
    EXPECT_TRUE(eventually([&] { return core.lines().onHold(); }));  // the hold's last step
    EXPECT_TRUE(voice.has("quelch 0 1"));
    EXPECT_TRUE(tickerShowed("Supervisor holds your call"));
    EXPECT_TRUE(log.contains("***handleHoldAgent: AgentID[1001], TrackNum[T1]"));
}

TEST_F(InboundMessagesTest, LogoutAgentLogsTheAgentOutWithTheServersReason) {
    loginNotReady();
    server.clearReceived();
    server.push(labcti::logoutAgent("You are logged out", "SUPERVISOR"));
    EXPECT_EQ(sent("35,"), "35,^1001^SUPERVISOR");
    ASSERT_TRUE(waitForState(agent::AgentLoggedOut));
    EXPECT_TRUE(voice.has("unregister 1001 pw 127.0.0.1:4569"));
    EXPECT_EQ(core.status().agentState(), "AgentLoggedOut");
    EXPECT_TRUE(log.contains("CImplementation::doAgentLogout()"));
}

TEST_F(InboundMessagesTest, SubmitNotifyFollowsTheWebPagesSubmission) {
    loginNotReady();
    goReady();
    distributeCall();
    server.push(labcti::submitNotify({"1001", "ClientA", "Winter", "submit_required", ""}));
    ASSERT_TRUE(waitForState(agent::AgentReadySubmitReqInCall));
    EXPECT_TRUE(core.call().snapshot().submitPending);

    server.push(labcti::submitNotify({"1001", "ClientA", "Winter", "submit_sent", "SOLD"}));
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    EXPECT_FALSE(core.call().snapshot().submitPending);
    EXPECT_TRUE(log.contains("BrowserHandler::OnSubmitNotify(): Message: [1001.ClientA.Winter.submit_sent.SOLD]."));

    server.push(labcti::submitNotify({"1001", "ClientA", "Winter", "submit_required", ""}));
    ASSERT_TRUE(waitForState(agent::AgentReadySubmitReqInCall));
    server.push(labcti::submitNotify({"1001", "ClientA", "Winter", "", ""}));  // the page was closed
    ASSERT_TRUE(waitForState(agent::AgentReadyInCall));
    EXPECT_FALSE(core.call().snapshot().submitPending);
}

TEST_F(InboundMessagesTest, AllAttachedDataReplacesTheCallsDataAndIsIgnoredWithoutACall) {
    loginNotReady();
    pushAndWait(labcti::allAttachedData("T0", {{{"Stray", "x", "crm"}}}));  // no call yet: nothing kept
    EXPECT_TRUE(attachedKeys().empty());
    EXPECT_EQ(window.attachedDataRefreshes(), 0);

    goReady();
    distributeCall({{{"CustomerId", "C-1", "crm"}}});
    EXPECT_EQ(attachedKeys(), std::vector<std::string>{"CustomerId"});
    const int refreshes = window.attachedDataRefreshes();
    pushAndWait(labcti::allAttachedData("T1", {{{"Segment", "Gold", "crm"}, {"Notes", "call back", "agent"}}}));
    EXPECT_EQ(attachedKeys(), (std::vector<std::string>{"Notes", "Segment"}));
    EXPECT_EQ(window.attachedDataRefreshes(), refreshes + 1);
}

TEST_F(InboundMessagesTest, RecordServerIsKeptAndAnInvalidOneKeepsRecordingsLocally) {
    loginNotReady();
    pushAndWait(labcti::recordServer({"10.0.0.5", "9000", "1"}));
    RecordServer stored = core.loginSettings().recordServer();
    EXPECT_EQ(stored.host, "10.0.0.5");
    EXPECT_EQ(stored.port, 9000);
    EXPECT_TRUE(stored.ssl);
    EXPECT_TRUE(stored.known());
    EXPECT_TRUE(log.contains("New Recording server received successfully [10.0.0.5:9000]"));

    pushAndWait(labcti::recordServer({"10.0.0.5", "", "0"}));
    stored = core.loginSettings().recordServer();
    EXPECT_EQ(stored.port, 0);
    EXPECT_FALSE(stored.known());
    EXPECT_EQ(log.levelOf("New Recording server received is invalid [10.0.0.5:0]"), "WARNING");
    EXPECT_TRUE(log.contains("Will keep all recordings locally"));
}

TEST_F(InboundMessagesTest, AutoUpdateSettingsAreKeptForTheNextStart) {
    loginNotReady();
    pushAndWait(labcti::autoUpdate({"1", "updates.example", "8080", "/orvane/next/"}));
    const AutoUpdateSettings update = core.loginSettings().autoUpdate();
    EXPECT_TRUE(update.enabled);
    EXPECT_EQ(update.host, "updates.example");
    EXPECT_EQ(update.port, 8080);
    EXPECT_EQ(update.path, "/orvane/next/");
    std::string stored;
    ASSERT_TRUE(SettingsStore().readRegistryValue("AutoUpdate host", stored));
    EXPECT_EQ(stored, "updates.example");
}

TEST_F(InboundMessagesTest, UpdateRecordingReplacesTheRecordingAndWrapUpSettings) {
    loginNotReady();
    pushAndWait(labcti::updateRecording({"0", "1", "1", "45", "600", "1", "low"}, {"LOGGED_OUT", "90", "1"}));
    const RecordingSettings recording = core.loginSettings().recording();
    EXPECT_FALSE(recording.active);
    EXPECT_TRUE(recording.mp3Encoding);
    EXPECT_TRUE(recording.localRecording);
    EXPECT_EQ(recording.minRecordingTime, 45);
    EXPECT_EQ(recording.maxRecordingTime, 600);
    EXPECT_TRUE(recording.ssl);
    EXPECT_EQ(recording.encodingQuality, "low");
    EXPECT_EQ(core.wrapUpChecker().actionAfterTimeOut(), "LOGGED_OUT");
    EXPECT_EQ(core.wrapUpChecker().maxWrapUp(), 90);
    EXPECT_TRUE(core.wrapUpChecker().timeOutEnabled());
}

TEST_F(InboundMessagesTest, AgentDialingKeepsTheTrackNumberOfTheDialTheAgentStarted) {
    loginNotReady();
    pushAndWait(labcti::agentDialing("T77"));
    EXPECT_EQ(core.call().snapshot().pendingDialTrackNumber, "T77");
    EXPECT_EQ(core.stateMachine().state(), agent::AgentNotReady);
}

// The message-centre thread takes items as they come, so what reaches the ticker is the proof.
TEST_F(InboundMessagesTest, AlertsAndStatisticsReachTheTickerAndOtherTypesAreDropped) {
    loginNotReady();
    pushAndWait(labcti::messageCenterInfo({"Queue is long", "#FF8000", "2", "ALERT"}));
    pushAndWait(labcti::messageCenterInfo({"12 calls waiting", "#00FF00", "1", "STAT"}));
    pushAndWait(labcti::messageCenterInfo({"Just so you know", "#0000FF", "1", "INFO"}));  // dropped
    pushAndWait(labcti::messageCenterInfo({"3 agents free", "#00FF00", "1", "STAT"}));
    EXPECT_TRUE(tickerShowed("Queue is long"));
    EXPECT_TRUE(tickerShowed("12 calls waiting"));
    // Items are played in turn: the text sent after the dropped one is shown last.
    EXPECT_TRUE(tickerShowed("3 agents free"));
    EXPECT_FALSE(log.contains("Ticker text was change for [Just so you know]"));
}

TEST_F(InboundMessagesTest, AnEmptyReasonListHidesTheReasonButtonAndKeepsTheReasons) {
    loginNotReady();
    pushAndWait(labcti::notReadyReasons({}));
    EXPECT_FALSE(window.control(Control::NotReadyReason).visible);
    EXPECT_TRUE(log.contains("Error message empty"));
    EXPECT_EQ(core.notReadyReasons(), (std::vector<std::string>{"Break", "Lunch", "Training"}));
    EXPECT_EQ(window.notReadyReasons(), (std::vector<std::string>{"Break", "Lunch", "Training"}));
}

TEST_F(InboundMessagesTest, TheCallsDateAndTimeKeepsItsSixPartsBesideTheDottedText) {
    loginNotReady();
    pushAndWait(labcti::ctiDateTime({"2026", "12", "08", "10", "05", "09"}));
    EXPECT_EQ(core.call().snapshot().callDateTime, "2026.12.08.10.05.09");
    EXPECT_EQ(core.call().snapshot().callDateTimeParts, (CallDateTime{"2026", "12", "08", "10", "05", "09"}));
    goReady();
    distributeCall();  // its CurrentDateTime is 2026.12.08.10.00.00
    EXPECT_EQ(core.call().snapshot().callDateTimeParts, (CallDateTime{"2026", "12", "08", "10", "00", "00"}));
}
