#pragma once

#include "agent/LoginEntries.h"

class ScreenPopWindow;
class VoiceEngine;

// The phone without a screen: starts the agent core, logs the agent in as if the login
// dialog had been confirmed, prints what the agent sees as it changes, and closes cleanly on
// SIGINT or SIGTERM.
struct HeadlessOptions {
    LoginEntries login;      // empty fields are taken from the stored settings
    int clientPort = 8767;   // the local client listener
    int iaxPort = 4569;      // the voice engine's UDP port (0: an ephemeral port)
};

// Runs on the GUI thread of a QApplication (the screen pop's window lives there); SIGINT and
// SIGTERM must be blocked in every thread before any starts.
int runHeadlessPhone(VoiceEngine& voice, ScreenPopWindow& screenPop, HeadlessOptions options);
