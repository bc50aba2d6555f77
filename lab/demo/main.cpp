// orvane-lab-demo: the built-in lab's demonstration of one agent's working day. It starts the
// lab switch, the lab CTI server and the lab applet client in this process, starts the phone
// as a program of its own, drives the day from the outside and narrates it.

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <mutex>
#include <string>

#include "infra/CLogger.h"
#include "lab/demo/LabDemoDay.h"

namespace {

const char* const kUsage =
    "usage: orvane-lab-demo --phone PROGRAM --folder DIR [--agent ID:PASSWORD] [--talk SECONDS]\n"
    "Runs one agent's day with the phone PROGRAM (orvane) against the lab; the phone's log,\n"
    "settings and audio files go to DIR.\n";

bool parseArguments(int argc, char** argv, LabDemoOptions& options) {
    for (int index = 1; index + 1 < argc; index += 2) {
        const std::string flag = argv[index];
        const std::string value = argv[index + 1];
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
    return argc % 2 == 1 && !options.phoneProgram.empty() && !options.folder.empty();
}

void narrate(const std::string& line) {
    static std::mutex lock;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::lock_guard guard(lock);
    std::cout << stamp << "  lab: " << line << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    LabDemoOptions options;
    if (!parseArguments(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // Ctrl-C reaches the phone too, which closes cleanly; the day then ends with it.
    std::signal(SIGINT, SIG_IGN);
    // The lab's log goes to its file only; the terminal shows the narration and the phone.
    CLogger::getInstance()->setDebugOutput([](std::string_view) {});
    int result = 0;
    {
        LabDemoDay day(options, narrate);
        result = day.run();
    }
    CLogger::destroyInstance();
    return result;
}
