#pragma once

class ScreenPopWindow;
struct ProgramOptions;
class StopSignals;
class VoiceEngine;

// The phone without a screen: starts the agent core, logs the agent in as if the login dialog
// had been confirmed, prints what the agent sees whenever it changes, takes the agent's
// commands on standard input and closes cleanly on SIGINT, SIGTERM or "quit". Its exit status
// is 1 when it cannot do its job (another copy runs, the login is refused or not valid, the
// CTI server cannot be reached), with the reason printed.
// It runs on the GUI thread, which also serves the screen pop's window.
int runHeadlessPhone(VoiceEngine& voice, ScreenPopWindow& screenPop, const ProgramOptions& options,
                     StopSignals& stopSignals);
