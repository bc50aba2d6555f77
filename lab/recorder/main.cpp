// orvane-lab-recorder: the lab recording server as a program, for demos and hand testing. It
// takes the phone's uploads over TCP or TLS, stores them in a folder and answers them as the
// commands typed on standard input say.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "infra/Timing.h"
#include "lab/common/LabInput.h"
#include "lab/recorder/LabRecordServer.h"
#include "lab/recorder/LabRecorderConsole.h"

namespace {

const char* const kUsage =
    "usage: orvane-lab-recorder [--port N] [--folder DIR] [--tls [--cert FILE --key FILE]]\n"
    "                           [--answer MODE] [--script FILE]\n"
    "Takes recordings on 127.0.0.1:N and stores them in DIR (the current folder by default). With\n"
    "--tls and no certificate, a self-signed one for localhost and 127.0.0.1 is made in DIR.\n"
    "The script's commands run first, then those typed on standard input; 'help' lists them,\n"
    "'quit' ends.\n";

struct ProgramArguments {
    LabRecorderOptions options;
    std::string script;
};

bool parseArguments(int argc, char** argv, ProgramArguments& parsed) {
    parsed.options.folder = ".";
    for (int index = 1; index < argc; ++index) {
        const std::string flag = argv[index];
        const bool hasValue = index + 1 < argc;
        if (flag == "--port" && hasValue) {
            const int port = std::atoi(argv[++index]);
            if (port <= 0 || port > 65535) return false;
            parsed.options.port = static_cast<std::uint16_t>(port);
        } else if (flag == "--folder" && hasValue) {
            parsed.options.folder = argv[++index];
        } else if (flag == "--tls") {
            parsed.options.tls = true;
        } else if (flag == "--cert" && hasValue) {
            parsed.options.certificateFile = argv[++index];
        } else if (flag == "--key" && hasValue) {
            parsed.options.keyFile = argv[++index];
        } else if (flag == "--answer" && hasValue) {
            const auto answer = LabRecordServer::answerNamed(argv[++index]);
            if (!answer) return false;
            parsed.options.answer = *answer;
        } else if (flag == "--script" && hasValue) {
            parsed.script = argv[++index];
        } else {
            return false;
        }
    }
    return parsed.options.certificateFile.empty() == parsed.options.keyFile.empty();
}

}  // namespace

int main(int argc, char** argv) {
    ProgramArguments arguments;
    if (!parseArguments(argc, argv, arguments)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::ifstream script;
    if (!openScript(arguments.script, "orvane-lab-recorder", script)) return 2;
    Timing::setScaleFromEnvironment();
    LabInput input;
    const LabLog print = labLogToStandardOutput();
    LabRecordServer server(arguments.options, print);
    if (!server.start()) return 1;
    LabRecorderConsole console(server);

    runCommands(script, input, [&console](const std::string& line) { return console.execute(line); }, print);
    server.stop();
    return 0;
}
