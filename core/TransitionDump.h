#pragma once

#include <ostream>

// Writes every cell of the transition tables that has an entry, one line each, ordered by
// state and event: state, next state and the action names, tab-separated.
void writeTransitions(std::ostream& out);
