#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

class AgentActions;
class EventQueue;

// The table-driven agent state machine: looks each event up in the constant tables, runs
// the entry's actions in order against the context and moves to the entry's next state.
// Rows without an entry for an event fall back to the shared Defaults row.
class AgentStateMachine {
public:
    static constexpr int kNotStarted = -1;
    static constexpr int kNoEvent = -2;
    static constexpr int kStop = -1;

    // The queue is woken at the start of every dispatch.
    explicit AgentStateMachine(EventQueue& queue);

    // Runs one event, with every event raised by its actions; called by the dispatcher thread.
    void dispatchEvent(int event, AgentActions& context);
    // For an action while it runs: stop the action list and look `event` up next
    // (a negative event looks the same event up again).
    void raiseException(int event);

    // The state the machine is in, for diagnostics and tests; -1 before the first dispatch.
    int state() const { return currentState.load(std::memory_order_relaxed); }

private:
    EventQueue& queue_;
    std::recursive_mutex lock;
    std::atomic<bool> busy{false};
    int currentEvent = 0;
    std::atomic<int> currentState{kNotStarted};
    int savedState = 0;
    std::uint16_t vectorIndex = 0;
    int nextEvent = kNoEvent;
    int raisedEvent = kNoEvent;
    int actionCursor = 0;
    bool exceptionRaised = false;
};
