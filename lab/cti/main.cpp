// orvane-lab-cti: the lab CTI server as a program, for demos and hand testing. It serves one
// phone at a time, prints what it receives and sends, and takes commands on standard input.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "infra/Timing.h"
#include "lab/common/LabInput.h"
#include "lab/cti/LabCtiConsole.h"
#include "lab/cti/LabCtiServer.h"

namespace {

constexpr std::uint16_t kDefaultPort = 8765;

const char* const kUsage =
    "usage: orvane-lab-cti [--port N] [--agent ID:PASSWORD]... [--switch HOST:PORT | --no-switch]\n"
    "                      [--record-server HOST:PORT] [--ready-after-login] [--screen-pop URL] [--script FILE]\n"
    "Serves 127.0.0.1:N (8765 by default). Without --agent any agent may log in. Distributed calls\n"
    "name URL as their screen pop unless the command names one (the lab web server's customer form,\n"
    "for instance). The script's commands run first, then those typed on standard input; 'help'\n"
    "lists them, 'quit' ends.\n";

struct ProgramArguments {
    LabCtiOptions options;
    std::string script;
};

// Splits "left:right" at its last colon.
bool splitPair(const std::string& text, std::string& left, std::string& right) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    left = text.substr(0, colon);
    right = text.substr(colon + 1);
    return true;
}

bool parseArguments(int argc, char** argv, ProgramArguments& parsed) {
    parsed.options.port = kDefaultPort;
    for (int index = 1; index < argc; ++index) {
        const std::string flag = argv[index];
        const bool hasValue = index + 1 < argc;
        std::string left, right;
        if (flag == "--port" && hasValue) {
            const int port = std::atoi(argv[++index]);
            if (port <= 0 || port > 65535) return false;
            parsed.options.port = static_cast<std::uint16_t>(port);
        } else if (flag == "--agent" && hasValue && splitPair(argv[++index], left, right)) {
            parsed.options.agents[left] = right;
        } else if (flag == "--switch" && hasValue && splitPair(argv[++index], left, right)) {
            parsed.options.switchInfo = labcti::SwitchInfo{left, right};
        } else if (flag == "--no-switch") {
            parsed.options.switchInfo = labcti::SwitchInfo{"", "", "", ""};
        } else if (flag == "--record-server" && hasValue && splitPair(argv[++index], left, right)) {
            parsed.options.recordServer = labcti::RecordServer{left, right};
        } else if (flag == "--ready-after-login") {
            parsed.options.group->readyAfterLogin = "1";
        } else if (flag == "--screen-pop" && hasValue) {
            parsed.options.screenPopUrl = argv[++index];
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
    if (!openScript(arguments.script, "orvane-lab-cti", script)) return 2;
    Timing::setScaleFromEnvironment();
    LabInput input;
    const LabLog print = labLogToStandardOutput();
    LabCtiServer server(arguments.options, print);
    if (!server.start()) return 1;
    LabCtiConsole console(server);

    runCommands(script, input, [&console](const std::string& line) { return console.execute(line); }, print);
    server.stop();
    return 0;
}
