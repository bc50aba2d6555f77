#include <gtest/gtest.h>

#include "AgentActionRecorder.h"
#include "core/AgentStateMachine.h"
#include "core/AgentTables.h"
#include "core/EventQueue.h"
#include "support/LogCapture.h"
#include "support/MachinePaths.h"

namespace {

class StateMachineTest : public ::testing::Test {
protected:
    // Leads the machine to `state` along the shortest path of the tables.
    void driveTo(int state) {
        const auto paths = pathsToStates();
        for (int event : paths.at(state)) machine.dispatchEvent(event, actions);
        ASSERT_EQ(machine.state(), state);
        actions.calls.clear();
        log.clear();
    }

    EventQueue queue;
    AgentStateMachine machine{queue};
    AgentActionRecorder actions;
    LogCapture log;
};

// The log lines the engine itself writes for one dispatch.
std::vector<std::string> fsmLines(const LogCapture& log) {
    std::vector<std::string> lines;
    for (const std::string& message : log.messages())
        if (message.rfind("FSM: ", 0) == 0) lines.push_back(message);
    return lines;
}

}  // namespace

TEST_F(StateMachineTest, FirstDispatchIsLookedUpInAfterInitAndOkEventLeadsToLoggedOut) {
    EXPECT_EQ(machine.state(), AgentStateMachine::kNotStarted);
    machine.dispatchEvent(agent::OkEvent, actions);
    EXPECT_EQ(actions.calls, std::vector<std::string>{"Set-Initial-State-Button"});
    EXPECT_EQ(machine.state(), agent::AgentLoggedOut);
    EXPECT_EQ(fsmLines(log), (std::vector<std::string>{
                                 "FSM: Begin. State:[After-Init]. Event:[Ok-Event].",
                                 "FSM: Calling:[Set-Initial-State-Button].",
                                 "FSM: End. State:[Agent-Logged-Out].",
                             }));
    EXPECT_EQ(log.count("Signal Queue Thread"), 1);
}

TEST_F(StateMachineTest, AnyOtherFirstEventFallsToDefaultsAndStaysInAfterInit) {
    machine.dispatchEvent(agent::ConferenceCanceledEvent, actions);
    EXPECT_EQ(actions.calls, std::vector<std::string>{"Set-Use-Onlytt"});
    EXPECT_EQ(machine.state(), agent::AfterInit);
    EXPECT_EQ(fsmLines(log).front(), "FSM: Begin. State:[After-Init]. Event:[Conference-Canceled-Event].");
}

TEST_F(StateMachineTest, EventIgnoredByDefaultsRunsNothingAndKeepsTheState) {
    driveTo(agent::AgentReady);
    machine.dispatchEvent(agent::HoldEvent, actions);
    EXPECT_TRUE(actions.calls.empty());
    EXPECT_EQ(machine.state(), agent::AgentReady);
    EXPECT_EQ(fsmLines(log), (std::vector<std::string>{"FSM: Begin. State:[Agent-Ready]. Event:[Hold-Event].",
                                                       "FSM: End. State:[Agent-Ready]."}));
}

TEST_F(StateMachineTest, EventWithoutEntryInRowOrDefaultsIsIgnored) {
    driveTo(agent::AgentNotReady);
    machine.dispatchEvent(agent::PreviewDialingEvent, actions);
    EXPECT_TRUE(actions.calls.empty());
    EXPECT_EQ(machine.state(), agent::AgentNotReady);
}

TEST_F(StateMachineTest, OutOfRangeEventsRunNothingButStillLogTheEnd) {
    driveTo(agent::AgentNotReady);
    for (int event : {42, -5, 1000}) {
        log.clear();
        machine.dispatchEvent(event, actions);
        EXPECT_TRUE(actions.calls.empty());
        EXPECT_EQ(machine.state(), agent::AgentNotReady);
        const auto lines = fsmLines(log);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1], "FSM: End. State:[Agent-Not-Ready].");
    }
}

TEST_F(StateMachineTest, UnconditionalLogoutFromEveryReachableStateEndsLoggedOut) {
    const auto paths = pathsToStates();
    for (const auto& [state, path] : paths) {
        if (state == agent::AfterInit) continue;
        EventQueue stateQueue;
        AgentStateMachine fresh(stateQueue);
        AgentActionRecorder recorder;
        for (int event : path) fresh.dispatchEvent(event, recorder);
        recorder.calls.clear();
        fresh.dispatchEvent(agent::UnconditionalLogoutEvent, recorder);
        EXPECT_EQ(fresh.state(), agent::AgentLoggedOut) << agent::StateNames[state];
        if (state != agent::AgentLoggedOut) {
            EXPECT_EQ(recorder.calls.size(), 17u) << agent::StateNames[state];
            EXPECT_EQ(recorder.calls.back(), "Set-Title-Logged-Out");
        }
    }
}

TEST_F(StateMachineTest, StatesOwnEntryWinsOverDefaults) {
    driveTo(agent::AgentNotReadyInitiatingConference);
    machine.dispatchEvent(agent::ConferenceCanceledEvent, actions);
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"Stop-Ringing", "Set-Use-Onlytt",
                                                       "Set-State-Agent-Not-Ready-In-Call"}));
    EXPECT_EQ(machine.state(), agent::AgentNotReadyInCall);

    actions.calls.clear();
    machine.dispatchEvent(agent::ConferenceCanceledEvent, actions);  // no own entry here: Defaults
    EXPECT_EQ(actions.calls, std::vector<std::string>{"Set-Use-Onlytt"});
    EXPECT_EQ(machine.state(), agent::AgentNotReadyInCall);
}

TEST_F(StateMachineTest, RaisedExceptionStopsTheListAndLooksTheRaisedEventUpInTheSameState) {
    driveTo(agent::AgentLoggedOut);
    // Login-Event runs Disable-Login first; raising Failed-Event there diverts the dispatch.
    bool raised = false;
    actions.onAction = [&](const std::string& name) {
        if (name == "Disable-Login" && !raised) {
            raised = true;
            machine.raiseException(agent::FailedEvent);
        }
    };
    machine.dispatchEvent(agent::LoginEvent, actions);
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"Disable-Login", "Disable-Login", "Show-Ready",
                                                       "Set-Title-Logged-Out", "Close-Connection",
                                                       "Set-State-Agent-Logged-Out"}));
    EXPECT_EQ(machine.state(), agent::AgentLoggedOut);
    const auto lines = fsmLines(log);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "FSM: Exception Raised. State:[Agent-Logged-Out]. Event:[Failed-Event]."),
              lines.end());
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("Begin") != std::string::npos; }), 1);
}

TEST_F(StateMachineTest, RaiseWithNegativeEventRepeatsTheSameLookup) {
    driveTo(agent::AgentNotReady);
    int raises = 0;
    actions.onAction = [&](const std::string& name) {
        if (name == "Set-Title-Not-Ready" && raises < 2) {
            ++raises;
            machine.raiseException(-1);
        }
    };
    machine.dispatchEvent(agent::NotReadyReasonSetEvent, actions);
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"Set-Title-Not-Ready", "Set-Title-Not-Ready",
                                                       "Set-Title-Not-Ready", "Send-Not-Ready-To-Cti"}));
    EXPECT_EQ(machine.state(), agent::AgentNotReady);
}

TEST_F(StateMachineTest, ActionsNeverSeeTheNewStateBeforeTheirListEnds) {
    driveTo(agent::AgentLoggingIn);
    std::vector<int> statesSeen;
    actions.onAction = [&](const std::string&) { statesSeen.push_back(machine.state()); };
    machine.dispatchEvent(agent::LoginDoneEvent, actions);
    EXPECT_EQ(statesSeen.size(), 14u);
    for (int seen : statesSeen) EXPECT_EQ(seen, agent::AgentLoggingIn);
    EXPECT_EQ(machine.state(), agent::AgentGoingReady);
}
