#include "core/AgentStateMachine.h"

#include "AgentActions.h"
#include "core/AgentTables.h"
#include "core/EventQueue.h"
#include "infra/CLogger.h"
#include "infra/ThreadGroup.h"

namespace {

const char* eventName(int event) {
    return event >= 0 && event < agent::kEventCount ? agent::EventNames[event] : "Out-Of-Range-Event";
}

std::uint16_t vectorAt(int state, int event) {
    return agent::ActionVectorIndexTable[state * agent::kEventCount + event];
}

}  // namespace

AgentStateMachine::AgentStateMachine(EventQueue& queue) : queue_(queue) {}

void AgentStateMachine::raiseException(int event) {
    exceptionRaised = true;
    busy = true;
    if (event >= 0) raisedEvent = event;
}

void AgentStateMachine::dispatchEvent(int event, AgentActions& context) {
    if (busy) return;
    std::lock_guard guard(lock);
    queue_.signal();
    if (currentState == kNotStarted) currentState = agent::AfterInit;
    logMessage(LogLevel::Debug, "%s: Begin. State:[%s]. Event:[%s].", "FSM", agent::StateNames[currentState],
               eventName(event));

    nextEvent = event;
    for (;;) {
        if (nextEvent == kStop) break;
        currentEvent = nextEvent;
        if (currentEvent >= agent::kEventCount || currentEvent < 0) break;

        savedState = currentState;
        vectorIndex = vectorAt(currentState, currentEvent);
        if (vectorIndex == agent::kNoEntry) {
            currentState = agent::Defaults;
            vectorIndex = vectorAt(agent::Defaults, currentEvent);
            if (vectorIndex == agent::kNoEntry) {
                currentState = savedState;
                break;
            }
        }

        nextEvent = kNoEvent;
        raisedEvent = kNoEvent;
        exceptionRaised = false;
        for (actionCursor = 0; !exceptionRaised; ++actionCursor) {
            const std::uint16_t action = agent::ActionVectorTable[vectorIndex][actionCursor];
            if (action == agent::kVectorEnd) break;
            logMessage(LogLevel::Debug, "%s: Calling:[%s].", "FSM", agent::ActionNames[action]);
            // An action that throws is logged; the transition's other actions still run.
            runGuarded("EventQueueThread", [&] { agent::ActionTable[action](context); });
        }

        if (exceptionRaised) {
            if (raisedEvent != kNoEvent) currentEvent = raisedEvent;
            nextEvent = currentEvent;
            logMessage(LogLevel::Debug, "%s: Exception Raised. State:[%s]. Event:[%s].", "FSM",
                       agent::StateNames[currentState], eventName(currentEvent));
        } else {
            currentState = agent::NextStateTable[currentState * agent::kEventCount + currentEvent];
        }
        if (currentState == agent::Defaults) currentState = savedState;
        if (nextEvent == kNoEvent) break;
    }

    busy = false;
    logMessage(LogLevel::Debug, "%s: End. State:[%s].", "FSM", agent::StateNames[currentState]);
}
