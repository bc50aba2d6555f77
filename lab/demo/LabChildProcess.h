#pragma once

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// A program the lab starts and ends: the phone under demonstration. Its standard output is the
// lab's own, so what it prints appears in the same terminal.
class LabChildProcess {
public:
    LabChildProcess() = default;
    ~LabChildProcess();
    LabChildProcess(const LabChildProcess&) = delete;
    LabChildProcess& operator=(const LabChildProcess&) = delete;

    // Starts `arguments[0]` in `folder` with the lab's environment plus `environment`, its
    // standard error going to `errorFile`. False when it cannot be started.
    bool start(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
               const std::string& folder, const std::string& errorFile);
    // True while the program runs.
    bool running();
    // Asks the program to end (SIGTERM) and waits for it; kills it after `grace`. Its exit
    // status, or -1 when it was killed or never ran.
    int stop(std::chrono::milliseconds grace);

private:
    bool reap(bool wait);

    pid_t pid_ = -1;
    int status_ = -1;
};
