#pragma once

#include <string>

class LabCommandLine;
class LabSwitch;

// The commands of the orvane-lab-switch program, typed on its standard input or written in a
// demo script: list users and calls, place, answer and hang up calls, change how calls and
// registrations are answered, or wait for the phone.
class LabSwitchConsole {
public:
    explicit LabSwitchConsole(LabSwitch& lab) : switch_(lab) {}

    // Carries out one command line; returns what to print ("" for a blank line or a comment).
    std::string execute(const std::string& line);
    static std::string help();

private:
    std::string users() const;
    std::string calls() const;
    std::string route(const LabCommandLine& line);

    LabSwitch& switch_;
};
