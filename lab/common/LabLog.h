#pragma once

#include <functional>
#include <string>

// Where a lab peer reports what it sends, receives and survives: one line per call. The
// peers' programs print to standard output; fixtures write into the run's log file.
using LabLog = std::function<void(const std::string& line)>;

// Writes each line to the process-wide log at DEBUG, after "<source>: ".
LabLog labLogToFile(const std::string& source);
// Prints each line on standard output, whole lines even from several threads.
LabLog labLogToStandardOutput();
