#pragma once

class ScreenPopWindow;
struct ProgramOptions;
class StopSignals;
class VoiceEngine;

// The phone with its window, in the running QApplication: the agent's bar with the login
// dialog (or a login at once, when the command line gave one); SIGINT, SIGTERM and the
// window's close requests all run the clean close, after which the program ends.
int runWindowedPhone(VoiceEngine& voice, ScreenPopWindow& screenPop, const ProgramOptions& options,
                     StopSignals& stopSignals);
