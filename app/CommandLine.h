#pragma once

#include <optional>
#include <string>
#include <vector>

#include "agent/LoginEntries.h"

// What the program was asked to do.
struct ProgramOptions {
    enum class Mode { Windowed, Headless, DumpTransitions, Help, Version };

    Mode mode = Mode::Windowed;
    LoginEntries login;              // empty fields come from the stored settings
    bool loginAtStart = false;       // a login was given: log in without asking
    bool passwordFromInput = false;  // read the password from the first line of standard input
    int clientPort = 8767;           // the local client listener
    int iaxPort = 4569;              // the voice engine's UDP port (0: any free port)
};

// The command line read, or the reason it cannot be used.
struct CommandLine {
    std::optional<ProgramOptions> options;
    std::string error;
};

// Reads the arguments after the program's name. `environmentPassword` is ORVANE_PASSWORD, when
// set. Nothing is stored: a bad value is refused here, before the phone starts.
CommandLine parseCommandLine(const std::vector<std::string>& arguments,
                             const std::optional<std::string>& environmentPassword);

// Why a password cannot be used for a login; empty when it can.
std::string passwordProblem(const std::string& password);

// The text of --help.
std::string usageText();
