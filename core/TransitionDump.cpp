#include "core/TransitionDump.h"

#include "core/AgentTables.h"

void writeTransitions(std::ostream& out) {
    for (int state = 0; state < agent::kStateCount; ++state) {
        for (int event = 0; event < agent::kEventCount; ++event) {
            const int cell = state * agent::kEventCount + event;
            const int vector = agent::ActionVectorIndexTable[cell];
            if (vector == agent::kNoEntry) continue;
            const int next = agent::NextStateTable[cell];
            out << agent::StateNames[state] << '\t' << agent::EventNames[event] << '\t' << agent::StateNames[next]
                << '\t';
            for (int slot = 0; agent::ActionVectorTable[vector][slot] != agent::kVectorEnd; ++slot)
                out << (slot ? "," : "") << agent::ActionNames[agent::ActionVectorTable[vector][slot]];
            out << '\n';
        }
    }
}
