#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

// A program the lab starts and ends: the phone under demonstration. Its standard output is the
// lab's own, so what it prints appears in the same terminal, unless the lab relays it.
class LabChildProcess {
public:
    // One line the program printed.
    using OutputLine = std::function<void(const std::string& line)>;

    LabChildProcess() = default;
    ~LabChildProcess();
    LabChildProcess(const LabChildProcess&) = delete;
    LabChildProcess& operator=(const LabChildProcess&) = delete;

    // Starts `arguments[0]` in `folder` with the lab's environment plus `environment`, its
    // standard error going to `errorFile`. False when it cannot be started. With `relay`, each
    // line of its standard output goes there instead, and the program runs in a process group of
    // its own with no input, so the terminal's Ctrl-C reaches the lab alone.
    bool start(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
               const std::string& folder, const std::string& errorFile, OutputLine relay = {});
    // True while the program runs.
    bool running();
    // The program's process id while it has not been waited for; -1 otherwise.
    pid_t pid() const { return pid_; }
    // Asks the program to end (SIGTERM) and waits for it; kills it after `grace`. Its exit
    // status, or -1 when it was killed or never ran.
    int stop(std::chrono::milliseconds grace);

private:
    bool reap(bool wait);
    void relayOutput(int fd, OutputLine relay);

    std::atomic<pid_t> pid_{-1};
    int status_ = -1;
    std::thread relay_;
};
