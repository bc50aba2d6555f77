#pragma once

#include <string>

class LabCtiServer;

// The commands of the orvane-lab-cti program, typed on its standard input or written in a demo
// script: push a message to the phone, play a fault, or wait for the phone.
class LabCtiConsole {
public:
    explicit LabCtiConsole(LabCtiServer& server) : server_(server) {}

    // Carries out one command line; returns what to print ("" for a blank line or a comment).
    std::string execute(const std::string& line);
    static std::string help();

private:
    LabCtiServer& server_;
};
