// orvane-lab-web: the lab web server as a program, for demos and hand testing. It serves the
// screen pop's customer form and the files of a folder on loopback, prints every request and
// answer, and plays faults typed on standard input.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "infra/Timing.h"
#include "lab/common/LabInput.h"
#include "lab/web/LabWebConsole.h"
#include "lab/web/LabWebServer.h"

namespace {

constexpr std::uint16_t kDefaultPort = 8780;

const char* const kUsage =
    "usage: orvane-lab-web [--port N] [--folder DIR] [--script FILE]\n"
    "Serves http://127.0.0.1:N/ (8780 by default; 0 picks a free port): the customer form at /form\n"
    "and the files of DIR. The script's commands run first, then those typed on standard input;\n"
    "'help' lists them, 'quit' ends.\n";

struct ProgramArguments {
    LabWebOptions options;
    std::string script;
};

bool parseArguments(int argc, char** argv, ProgramArguments& parsed) {
    parsed.options.port = kDefaultPort;
    for (int index = 1; index < argc; ++index) {
        const std::string flag = argv[index];
        const bool hasValue = index + 1 < argc;
        if (flag == "--port" && hasValue) {
            char* end = nullptr;
            const long port = std::strtol(argv[++index], &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) return false;
            parsed.options.port = static_cast<std::uint16_t>(port);
        } else if (flag == "--folder" && hasValue) {
            parsed.options.folder = argv[++index];
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
    if (!openScript(arguments.script, "orvane-lab-web", script)) return 2;
    Timing::setScaleFromEnvironment();
    LabInput input;
    const LabLog print = labLogToStandardOutput();
    LabWebServer server(arguments.options, print);
    if (!server.start()) return 1;
    LabWebConsole console(server);

    runCommands(script, input, [&console](const std::string& line) { return console.execute(line); }, print);
    server.stop();
    return 0;
}
