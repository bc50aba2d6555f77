// orvane-lab-demo: the built-in lab's demonstration of one agent's working day. It starts the
// lab switch, the lab CTI server and the lab applet client in this process, starts the phone
// as a program of its own, drives the day from the outside and narrates it. Ctrl-C ends it at
// once: the phone is asked to close (and killed if it has not within 1.7 s),
// one line says so, and nothing more is narrated.

#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "infra/CLogger.h"
#include "lab/demo/LabDemoDay.h"

namespace {

using namespace std::chrono_literals;

const char* const kUsage =
    "usage: orvane-lab-demo --phone PROGRAM --folder DIR [--agent ID:PASSWORD] [--talk SECONDS] [--window]\n"
    "Runs one agent's day with the phone PROGRAM (orvane) against the lab; the phone's log,\n"
    "settings and audio files go to DIR. With --window the phone shows its window.\n";

constexpr auto kPhoneCloseWait = 1700ms;  // after Ctrl-C, before the phone is killed

std::mutex outputLock;
bool interrupted = false;  // under outputLock: nothing is printed after the closing line

bool parseArguments(int argc, char** argv, LabDemoOptions& options) {
    for (int index = 1; index < argc; ++index) {
        const std::string flag = argv[index];
        if (flag == "--window") {
            options.windowed = true;
            continue;
        }
        if (index + 1 >= argc) return false;
        const std::string value = argv[++index];
        if (flag == "--phone") {
            options.phoneProgram = value;
        } else if (flag == "--folder") {
            options.folder = value;
        } else if (flag == "--agent" && value.find(':') != std::string::npos) {
            options.agentId = value.substr(0, value.find(':'));
            options.password = value.substr(value.find(':') + 1);
        } else if (flag == "--talk" && std::atoi(value.c_str()) > 0) {
            options.conversation = std::chrono::seconds(std::atoi(value.c_str()));
        } else {
            return false;
        }
    }
    return !options.phoneProgram.empty() && !options.folder.empty();
}

void printLine(const std::string& line) {
    std::lock_guard guard(outputLock);
    if (!interrupted) std::cout << line << std::endl;
}

void narrate(const std::string& line) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    printLine(std::string(stamp) + "  lab: " + line);
}

// The phone's exit once it has ended, without reaping it (the day may be waiting for it too):
// 0 for a clean close, -1 while it runs, 1 otherwise.
int phoneEnded(pid_t phone) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(phone), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return 0;  // reaped
    if (info.si_pid == 0) return -1;
    return info.si_code == CLD_EXITED && info.si_status == 0 ? 0 : 1;
}

// Ctrl-C (or SIGTERM): the phone closes, one honest line, the demo ends.
[[noreturn]] void endOnInterrupt(sigset_t stops, const LabDemoDay& day) {
    int signal = 0;
    sigwait(&stops, &signal);
    {
        std::lock_guard guard(outputLock);
        interrupted = true;
    }
    const pid_t phone = day.phonePid();
    std::string outcome = "no phone was running";
    if (phone > 0) {
        ::kill(phone, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + kPhoneCloseWait;
        int ended = -1;
        while ((ended = phoneEnded(phone)) < 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        if (ended < 0) {
            ::kill(phone, SIGKILL);
            outcome = "the phone did not close within 1.7 s and was killed";
        } else {
            outcome = ended == 0 ? "the phone closed cleanly" : "the phone ended with an error";
        }
    }
    std::cout << "lab: demo stopped (" << (signal == SIGINT ? "Ctrl-C" : "SIGTERM") << "): " << outcome << std::endl;
    std::_Exit(130);
}

}  // namespace

int main(int argc, char** argv) {
    LabDemoOptions options;
    if (!parseArguments(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);  // before any thread starts: one thread takes them
    // The lab's log goes to its file only; the terminal shows the narration and the phone.
    CLogger::getInstance()->setDebugOutput([](std::string_view) {});
    int result = 0;
    {
        LabDemoDay day(options, narrate, printLine);
        std::thread(endOnInterrupt, stops, std::cref(day)).detach();
        result = day.run();
    }
    CLogger::destroyInstance();
    return result;
}
