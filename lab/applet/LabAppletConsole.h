#pragma once

#include <string>

class LabAppletClient;

// The commands of the orvane-lab-applet program, typed on its standard input or written in a
// demo script: send a request to the phone, play a misbehaving applet, or wait for a reply.
class LabAppletConsole {
public:
    explicit LabAppletConsole(LabAppletClient& client) : client_(client) {}

    // Carries out one command line; returns what to print ("" for a blank line or a comment).
    std::string execute(const std::string& line);
    static std::string help();

private:
    LabAppletClient& client_;
};
