// The orvane program: the agent's phone.
//   orvane --version
//       print the version carried in the program file
//   orvane --dump-transitions
//       print the agent state machine's transition table and exit
//   orvane --headless [--agent ID] [--password PW] [--cti HOST:PORT] [--client-port N] [--iax-port N]
//       run the phone without a screen, log the agent in and print what the agent sees

#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include <QApplication>

#include "app/CrashMessageBox.h"
#include "app/HeadlessPhone.h"
#include "app/VoiceEngineFactory.h"
#include "core/TransitionDump.h"
#include "infra/CLogger.h"
#include "infra/CrashDumper.h"
#include "infra/FileVersion.h"
#include "infra/Timing.h"
#include "ui/ScreenPopWindow.h"
#include "ui/WebEngineSetup.h"

namespace {

int usage() {
    std::cerr << "usage: orvane --version\n"
                 "       orvane --dump-transitions\n"
                 "       orvane --headless [--agent ID] [--password PW] [--cti HOST:PORT] [--client-port N] [--iax-port N]\n";
    return 2;
}

bool parseHeadless(int argc, char** argv, HeadlessOptions& options) {
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (option == "--agent") {
            options.login.agentId = value;
        } else if (option == "--password") {
            options.login.password = value;
        } else if (option == "--cti") {
            const auto colon = value.rfind(':');
            options.login.host = value.substr(0, colon);
            if (colon != std::string::npos) options.login.port = value.substr(colon + 1);
        } else if (option == "--client-port") {
            options.clientPort = std::stoi(value);
        } else if (option == "--iax-port") {
            options.iaxPort = std::stoi(value);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (CrashDumper::isHelperCommand(argc, argv)) return CrashDumper::runHelper(argc, argv, showCrashMessageBox);
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "Orvane " << readFileVersion(runningProgramPath()) << std::endl;
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--dump-transitions") == 0) {
        writeTransitions(std::cout);
        return std::cout ? 0 : 1;
    }
    if (argc < 2 || std::strcmp(argv[1], "--headless") != 0) return usage();
    HeadlessOptions options;
    try {
        if (!parseHeadless(argc, argv, options)) return usage();
    } catch (const std::exception&) {
        return usage();
    }
    Timing::setScaleFromEnvironment();
    const CrashDumper crashDumper("Orvane");
    // SIGINT and SIGTERM end the run through the phone's clean close: blocked before any thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    CLogger::getInstance();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareWebEngine(true);
    QApplication application(argc, argv);
    int result = 0;
    {
        ScreenPopWindow screenPop;
        auto voice = makeVoiceEngine(options.iaxPort);
        result = runHeadlessPhone(*voice, screenPop, options);
    }
    CLogger::destroyInstance();
    return result;
}
