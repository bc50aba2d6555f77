#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <mutex>

#include "AgentVocabulary.h"
#include "core/AgentTables.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "agent/HeadlessAgentWindow.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"
#include "support/FakeVoiceEngine.h"
#include "support/LogCapture.h"
#include "voice/ConferenceControl.h"
#include "voice/LineControl.h"
#include "voice/SwitchRegistration.h"
#include "voice/VoiceAgent.h"

namespace {

using Strings = std::vector<std::string>;
using Click = HeadlessAgentWindow::ConferenceClick;

class ConferenceAgentSide : public VoiceAgent {
public:
    void QueuePhoneEvent(int event) override { add(agent::EventNames[event]); }
    void showTicker(const TickerText&) override {}
    void reportLineDown(const std::string&) override {}
    void SendOnHoldToCti() override { add("100"); }
    void SendUnHoldToCti() override { add("101"); }
    void reportCallState(const std::string&) override {}
    void SetInWrapUp() override {}
    void setInWrapUp(bool) override {}
    void SendInitiateTransferToCti() override { add("411"); }
    void SendCompletedTransferToCti(int type) override { add("412 type " + std::to_string(type)); }
    void SendCancelTransferToCti() override { add("413"); }
    void SendConsultCallRequestToCti(int type) override {
        add("324 type " + std::to_string(type));
        if (onConsultRequest) onConsultRequest();
    }
    void SendConsultCallCanceledToCti() override { add("325"); }
    void SendConferenceCompletedToCti() override { add("78"); }
    void SendAgentPersonnalDialToCti() override { add("99"); }
    void SendAgentReallyDialingToCti() override { add("131"); }
    void CloseDialWindow() override {}

    Strings calls() {
        std::lock_guard guard(lock_);
        return calls_;
    }

    // The server's answer, given as the request is sent.
    std::function<void()> onConsultRequest;

private:
    void add(const std::string& call) {
        std::lock_guard guard(lock_);
        calls_.push_back(call);
    }
    std::mutex lock_;
    Strings calls_;
};

// A customer on line 1 (call 0), two-line mode, agent 4711 on switch pbx:4569.
class ConferenceTest : public ::testing::Test {
protected:
    ConferenceTest() {
        Timing::setScale(0.001);
        profile.agentId.set("4711");
        profile.callPrefix.set("9");
        switchRegistration.setAsteriskHost("pbx");
        switchRegistration.setAsteriskPort(4569);
        lines.setLineStatusUp(0);
        engine.iaxc_select_call(0);
        engine.clearOperations();
    }
    ~ConferenceTest() override {
        threads.join();
        Timing::setScale(1.0);
    }

    // Runs a button on its own thread, as the window thread would, while the test answers.
    template <class F>
    std::future<void> onWindowThread(F work) {
        return std::async(std::launch::async, work);
    }

    LogCapture log;
    FakeVoiceEngine engine;
    Call call;
    AgentProfile profile;
    ConferenceAgentSide agentSide;
    ThreadGroup threads;
    HeadlessAgentWindow window;
    SwitchRegistration switchRegistration{engine, agentSide};
    LineControl lines{engine, call, agentSide, threads};
    ConferenceControl conference{engine, lines, switchRegistration, call, profile, agentSide, window};
};

}  // namespace

TEST_F(ConferenceTest, TransferToAPhoneNumberCompletesAfterInitiating) {
    window.answerDialWindow({true, "0612", 3});
    conference.OnBnClickedButtonTransfer();
    EXPECT_EQ(agentSide.calls(), (Strings{"100", "411", "412 type 3"}));
    EXPECT_EQ(call.snapshot().dialDestination, "0612");
    EXPECT_TRUE(engine.has("select 2"));
}

TEST_F(ConferenceTest, CancelledTransferReturnsToTheCustomerAndRestoresTheHoldTheButtonShows) {
    window.answerDialWindow({false, "", 0});
    conference.OnBnClickedButtonTransfer();  // hold button off, customer muted by the transfer's hold
    threads.join();
    EXPECT_EQ(agentSide.calls(), (Strings{"100", "411", "413", "101"}));
    EXPECT_TRUE(log.contains("InitiateTransfer():Button hold off and client on hold, keeping hold status"));

    lines.setHoldButtonOn(true);
    window.answerDialWindow({false, "", 0});
    conference.OnBnClickedButtonTransfer();
    threads.join();
    EXPECT_TRUE(log.contains("InitiateTransfer():Button hold on and client on hold, keeping hold status"));
    EXPECT_TRUE(lines.onHold());
}

TEST_F(ConferenceTest, PhoneNumberConferenceDialsTheConsultationAndCompletes) {
    window.answerDialWindow({true, "555", 0});
    auto running = onWindowThread([&] { conference.InitiateConference(); });
    while (window.control(Control::CompleteConference).exists == false) std::this_thread::yield();
    lines.setLineStatusUp(1);  // the consultation answered
    window.clickConferenceButton(Click::Complete);
    running.get();
    EXPECT_TRUE(engine.has("call 4711@pbx:4569/9555"));
    EXPECT_EQ(agentSide.calls(), (Strings{"100", "131", "In-Progress-Event", "101", "78"}));
    EXPECT_EQ(engine.iaxc_selected_call(), 1);
    EXPECT_FALSE(window.control(Control::CompleteConference).exists);
}

TEST_F(ConferenceTest, ConsultCallToAnAgentWaitsForTheServerAndRewritesTheDestination) {
    lines.setCallType("READYOUTBOUND");
    window.answerDialWindow({true, "2002", 1});
    conference.signalConsultResponse();  // a late answer to an earlier request does not count
    agentSide.onConsultRequest = [&] { conference.signalConsultResponse(); };
    auto running = onWindowThread([&] { conference.InitiateConference(); });
    while (!window.control(Control::CompleteConference).exists) std::this_thread::yield();
    EXPECT_TRUE(conference.consultPending());
    lines.setLineStatusUp(1);
    window.clickConferenceButton(Click::Complete);
    running.get();
    EXPECT_EQ(call.snapshot().dialDestination, "AGTRDYOUT2002");
    EXPECT_TRUE(engine.has("call 4711@pbx:4569/AGTCALL4711"));
    EXPECT_FALSE(conference.consultPending());  // the consultation is over
    const Strings calls = agentSide.calls();  // accepted: no return to the customer before the dial
    EXPECT_EQ(Strings(calls.begin(), calls.begin() + 3), (Strings{"100", "324 type 1", "In-Progress-Event"}));
    EXPECT_EQ(engine.iaxc_selected_call(), 1);  // a consulted ready-outbound call ends on call 1
    EXPECT_TRUE(log.contains("CCompleteConferenceDlg : OnBnClickedButtonCompleteConf : Agent Consultation  READY "
                             "OUTBOUND selecting line [1]"));
}

TEST_F(ConferenceTest, ConsultCallWithoutAnAnswerGoesBackToTheCustomerAndStillDials) {
    lines.setCallType("DISTRIBUTE");
    window.answerDialWindow({true, "2002", 1});
    auto running = onWindowThread([&] { conference.InitiateConference(); });
    while (!window.control(Control::CompleteConference).exists) std::this_thread::yield();
    window.clickConferenceButton(Click::Cancel);
    running.get();
    const Strings calls = agentSide.calls();
    EXPECT_EQ(Strings(calls.begin(), calls.begin() + 4), (Strings{"100", "324 type 1", "101", "In-Progress-Event"}));
    EXPECT_TRUE(engine.has("call 4711@pbx:4569/AGTCALL4711"));
    EXPECT_EQ(call.snapshot().dialDestination, "AGTDIST2002");
}

TEST_F(ConferenceTest, DroppingTheConsultationInTwoLineModeReturnsToTheCustomer) {
    window.answerDialWindow({true, "555", 0});
    auto running = onWindowThread([&] { conference.InitiateConference(); });
    while (!window.control(Control::CompleteConference).exists) std::this_thread::yield();
    window.clickConferenceButton(Click::Cancel);
    running.get();
    EXPECT_TRUE(log.contains("CCompleteConferenceDlg 1 up, 2 down"));
    EXPECT_TRUE(log.contains("InitiateConference(): Must drop conference"));
    EXPECT_TRUE(engine.has("dump 1"));
    EXPECT_EQ(agentSide.calls().back(), "Conference-Canceled-Event");
    EXPECT_EQ(engine.iaxc_selected_call(), 0);
}

TEST_F(ConferenceTest, CancellingTheDialWindowQueuesCancelAndSwitchToManualOnlyFromTheSecondLine) {
    window.answerDialWindow({false, "", 0});
    conference.InitiateConference();
    EXPECT_EQ(agentSide.calls(), (Strings{"100", "101", "Conference-Canceled-Event", "325"}));
    EXPECT_EQ(engine.iaxc_selected_call(), 0);

    lines.setLineStatusUp(1);
    window.answerDialWindow({false, "", 0});
    conference.InitiateConference();
    const Strings calls = agentSide.calls();
    EXPECT_EQ(Strings(calls.end() - 3, calls.end()), (Strings{"Conference-Canceled-Event", "Switch-To-Manual-Event", "325"}));
    EXPECT_EQ(engine.iaxc_selected_call(), 1);
}

TEST_F(ConferenceTest, LineButtonsSwapTheCallsAndTheMarks) {
    window.openCompleteConferenceWindow();
    lines.setLineStatusUp(1);
    conference.OnBnClickedLine2();
    EXPECT_TRUE(window.control(Control::ConferenceLine2Selected).visible);
    EXPECT_FALSE(window.control(Control::ConferenceLine1Selected).visible);
    EXPECT_TRUE(window.control(Control::ConferenceLine1).enabled);
    conference.OnBnClickedLine1();
    EXPECT_TRUE(window.control(Control::ConferenceLine1Selected).visible);
    const Strings operations = engine.operations();
    EXPECT_EQ(Strings(operations.begin(), operations.begin() + 4), (Strings{"select 0", "quelch 0 1", "select 1", "unquelch 1"}));
}
