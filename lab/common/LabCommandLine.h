#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One command typed to a lab program: a command word and its arguments, separated by blanks.
// The last argument of many commands is free text, taken as typed with restFrom().
class LabCommandLine {
public:
    explicit LabCommandLine(std::string_view line);

    // Empty for a blank line or a "#" comment.
    const std::string& command() const { return command_; }
    std::size_t argumentCount() const { return arguments_.size(); }
    // The argument at `index` (0 is the first after the command), "" when there is none.
    std::string argument(std::size_t index) const;
    std::optional<long> number(std::size_t index) const;
    // The text from the argument at `index` to the end of the line, inner blanks kept.
    std::string restFrom(std::size_t index) const;
    // The argument at `index` read as seconds: how long a wait command waits (a minute when absent).
    std::chrono::milliseconds waitLimit(std::size_t index) const;

    // A console's answer to a command used wrongly.
    static std::string usage(const std::string& form) { return "error: usage: " + form; }

private:
    std::string line_;
    std::string command_;
    std::vector<std::string> arguments_;
    std::vector<std::size_t> argumentStarts_;
};
