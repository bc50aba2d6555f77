#pragma once

#include <string>

class LabWebServer;

// The commands of the orvane-lab-web program, typed on its standard input or written in a
// script: faults for the next requests, and waits for requests to arrive.
class LabWebConsole {
public:
    explicit LabWebConsole(LabWebServer& server) : server_(server) {}

    // Carries out one command line; returns what to print ("" for a blank line or a comment).
    std::string execute(const std::string& line);
    static std::string help();

private:
    LabWebServer& server_;
};
