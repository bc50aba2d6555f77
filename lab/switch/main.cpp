// orvane-lab-switch: the lab switch as a program, for demos and hand testing. It plays the
// Asterisk PBX on 127.0.0.1, prints every frame it sends (>>) and receives (<<), and takes
// commands on standard input.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "infra/Timing.h"
#include "lab/common/LabInput.h"
#include "lab/switch/LabSwitch.h"
#include "lab/switch/LabSwitchConsole.h"
#include "lab/switch/LabWav.h"

namespace {

constexpr std::uint16_t kDefaultPort = 4569;

const char* const kUsage =
    "usage: orvane-lab-switch [--port N] [--user NAME:SECRET]... [--call-tokens] [--ring-ms MS]\n"
    "                         [--play FILE.wav | --tone HZ] [--record-dir DIR] [--capture FILE.pcap]\n"
    "                         [--script FILE]\n"
    "Serves IAX2 on 127.0.0.1:N (4569 by default). Calls are answered after the ring time; 'route'\n"
    "changes that per number. The script's commands run first, then those typed on standard input;\n"
    "'help' lists them, 'quit' ends.\n";

struct ProgramArguments {
    LabSwitchOptions options;
    std::string script;
};

bool positiveNumber(const char* text, long largest, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return *text && *end == '\0' && value > 0 && value <= largest;
}

bool addUser(const std::string& text, LabSwitchOptions& options) {
    const auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    options.users[text.substr(0, colon)] = text.substr(colon + 1);
    return true;
}

bool playFile(const std::string& path, LabSwitchOptions& options) {
    std::string error;
    auto samples = labwav::read(path, error);
    if (!samples) {
        std::fprintf(stderr, "orvane-lab-switch: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    options.farParty = LabAudioSource::samples(std::move(*samples));
    return true;
}

bool parseArguments(int argc, char** argv, ProgramArguments& parsed) {
    parsed.options.port = kDefaultPort;
    for (int index = 1; index < argc; ++index) {
        const std::string flag = argv[index];
        const bool hasValue = index + 1 < argc;
        long number = 0;
        if (flag == "--port" && hasValue && positiveNumber(argv[index + 1], 65535, number)) {
            parsed.options.port = static_cast<std::uint16_t>(number);
            ++index;
        } else if (flag == "--user" && hasValue && addUser(argv[++index], parsed.options)) {
        } else if (flag == "--call-tokens") {
            parsed.options.callTokens = true;
        } else if (flag == "--ring-ms" && hasValue && positiveNumber(argv[index + 1], 3600000, number)) {
            parsed.options.ringTime = std::chrono::milliseconds(number);
            ++index;
        } else if (flag == "--play" && hasValue && playFile(argv[++index], parsed.options)) {
        } else if (flag == "--tone" && hasValue && positiveNumber(argv[index + 1], 3999, number)) {
            parsed.options.farParty = LabAudioSource::tone(static_cast<double>(number));
            ++index;
        } else if (flag == "--record-dir" && hasValue) {
            parsed.options.recordDirectory = argv[++index];
        } else if (flag == "--capture" && hasValue) {
            parsed.options.captureFile = argv[++index];
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
    if (!openScript(arguments.script, "orvane-lab-switch", script)) return 2;
    Timing::setScaleFromEnvironment();
    LabInput input;
    const LabLog print = labLogToStandardOutput();
    LabSwitch lab(arguments.options, print);
    if (!lab.start()) return 1;
    LabSwitchConsole console(lab);

    runCommands(script, input, [&console](const std::string& line) { return console.execute(line); }, print);
    lab.stop();
    return 0;
}
