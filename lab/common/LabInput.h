#pragma once

#include <fstream>
#include <functional>
#include <istream>
#include <optional>
#include <string>

#include "lab/common/LabLog.h"

// The command lines a lab program reads from standard input. SIGINT and SIGTERM end the
// reading (and any wait for them), so the program can stop its peer cleanly.
class LabInput {
public:
    // Installs the handlers of SIGINT and SIGTERM; one per process.
    LabInput();
    ~LabInput();
    LabInput(const LabInput&) = delete;
    LabInput& operator=(const LabInput&) = delete;

    // The next line without its line feed; nothing at the end of the input or after a signal.
    std::optional<std::string> nextLine();
    // Blocks until SIGINT or SIGTERM (at once if one has already come).
    void waitForSignal();
    bool interrupted() const { return interrupted_; }

private:
    bool waitForInputOrSignal();

    std::string pending_;
    bool endOfInput_ = false;
    bool interrupted_ = false;
};

// The command loop of a lab program: the script's lines, then standard input's, each handed to
// `execute` and its result printed. "quit" ends the loop at once; at the end of the input the
// loop waits for SIGINT or SIGTERM, so a peer started in the background keeps serving.
void runCommands(std::istream& script, LabInput& input, const std::function<std::string(const std::string&)>& execute,
                 const LabLog& print);

// Opens a program's --script file (nothing to open when `path` is empty); false, with a line
// on standard error naming `program`, when it cannot be read.
bool openScript(const std::string& path, const char* program, std::ifstream& script);
