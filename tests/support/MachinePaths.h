#pragma once

#include <map>
#include <queue>
#include <vector>

#include "core/AgentTables.h"

// Shortest event sequences that lead the state machine from its start to each state,
// found by walking the tables (Defaults entries that stay are left out: they go nowhere).
inline std::map<int, std::vector<int>> pathsToStates() {
    std::map<int, std::vector<int>> paths{{agent::AfterInit, {}}};
    std::queue<int> pending;
    pending.push(agent::AfterInit);
    while (!pending.empty()) {
        const int state = pending.front();
        pending.pop();
        for (int event = 0; event < agent::kEventCount; ++event) {
            int row = state;
            if (agent::ActionVectorIndexTable[row * agent::kEventCount + event] == agent::kNoEntry) row = agent::Defaults;
            if (agent::ActionVectorIndexTable[row * agent::kEventCount + event] == agent::kNoEntry) continue;
            int next = agent::NextStateTable[row * agent::kEventCount + event];
            if (next == agent::Defaults) next = state;
            if (paths.count(next)) continue;
            paths[next] = paths[state];
            paths[next].push_back(event);
            pending.push(next);
        }
    }
    return paths;
}
