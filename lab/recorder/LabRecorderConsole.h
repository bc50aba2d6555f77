#pragma once

#include <string>

class LabRecordServer;

// The commands of the orvane-lab-recorder program, typed on its standard input or written in a
// script: choose how uploads are answered, list them, wait for one.
class LabRecorderConsole {
public:
    explicit LabRecorderConsole(LabRecordServer& server) : server_(server) {}

    // Carries out one command line; returns what to print ("" for a blank line or a comment).
    std::string execute(const std::string& line);
    static std::string help();

private:
    LabRecordServer& server_;
};
