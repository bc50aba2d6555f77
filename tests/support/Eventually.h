#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "core/AgentTables.h"

// Polls `done` until it holds or `timeout` passes; its last answer.
inline bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

// Waits for the agent state machine to reach `state`; a test failure naming both states when it does not.
template <class Machine>
bool reachesState(const Machine& machine, int state, std::chrono::milliseconds timeout) {
    if (eventually([&] { return machine.state() == state; }, timeout)) return true;
    const int now = machine.state();
    ADD_FAILURE() << "expected " << agent::StateNames[state] << ", still in "
                  << (now >= 0 ? agent::StateNames[now] : "not started");
    return false;
}
