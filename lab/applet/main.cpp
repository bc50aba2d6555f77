// orvane-lab-applet: the lab applet client as a program, for demos and hand testing. It connects
// to the phone's local listener, keeps the heartbeat, sends the requests typed on standard input
// and prints the phone's replies.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "infra/Timing.h"
#include "lab/applet/LabAppletClient.h"
#include "lab/applet/LabAppletConsole.h"
#include "lab/common/LabInput.h"

namespace {

const char* const kUsage =
    "usage: orvane-lab-applet [--port N] [--heartbeat-ms N] [--silent] [--no-greeting] [--script FILE]\n"
    "Connects to the phone's listener on 127.0.0.1:N (8767 by default). The script's commands run\n"
    "first, then those typed on standard input; 'help' lists them, 'quit' ends.\n";

struct ProgramArguments {
    LabAppletOptions options;
    bool silent = false;
    std::string script;
};

bool parseArguments(int argc, char** argv, ProgramArguments& parsed) {
    for (int index = 1; index < argc; ++index) {
        const std::string flag = argv[index];
        const bool hasValue = index + 1 < argc;
        if (flag == "--port" && hasValue) {
            const int port = std::atoi(argv[++index]);
            if (port <= 0 || port > 65535) return false;
            parsed.options.port = static_cast<std::uint16_t>(port);
        } else if (flag == "--heartbeat-ms" && hasValue) {
            const int milliseconds = std::atoi(argv[++index]);
            if (milliseconds <= 0) return false;
            parsed.options.heartbeatInterval = std::chrono::milliseconds(milliseconds);
        } else if (flag == "--silent") {
            parsed.silent = true;
        } else if (flag == "--no-greeting") {
            parsed.options.greetOnConnect = false;
        } else if (flag == "--script" && hasValue) {
            parsed.script = argv[++index];
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ProgramArguments arguments;
    if (!parseArguments(argc, argv, arguments)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::ifstream script;
    if (!openScript(arguments.script, "orvane-lab-applet", script)) return 2;
    Timing::setScaleFromEnvironment();
    LabInput input;
    const LabLog print = labLogToStandardOutput();
    LabAppletClient client(arguments.options, print);
    if (arguments.silent) client.setSilent(true);
    client.connect();
    LabAppletConsole console(client);

    runCommands(script, input, [&console](const std::string& line) { return console.execute(line); }, print);
    client.disconnect();
    return 0;
}
