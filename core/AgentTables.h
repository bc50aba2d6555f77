#pragma once

#include <cstdint>

#include "AgentVocabulary.h"

class AgentActions;

// The constant tables of the agent state machine (generated from agent_machine.txt).
// Cells are row-major: entry = state * kEventCount + event.
namespace agent {

using ActionFunction = void (*)(AgentActions& context);

inline constexpr std::uint16_t kVectorEnd = 0xFFFF;
inline constexpr int kNoEntry = 0;  // ActionVectorIndexTable value of a cell without entry

extern const std::uint16_t NextStateTable[kStateCount * kEventCount];
extern const std::uint16_t ActionVectorIndexTable[kStateCount * kEventCount];
extern const std::uint16_t ActionVectorTable[kVectorCount][kVectorSlots];
extern const ActionFunction ActionTable[kActionCount];
extern const char* const StateNames[kStateCount];
extern const char* const EventNames[kEventCount];
extern const char* const ActionNames[kActionCount];

}  // namespace agent
