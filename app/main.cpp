// The orvane program: the agent's phone, with its window (the default) or without one
// (--headless). `orvane --help` lists the options.

#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/CommandLine.h"
#include "app/CrashMessageBox.h"
#include "app/HeadlessPhone.h"
#include "app/StartUp.h"
#include "app/StopSignals.h"
#include "app/VoiceEngineFactory.h"
#include "app/WindowedPhone.h"
#include "core/TransitionDump.h"
#include "infra/CLogger.h"
#include "infra/CrashDumper.h"
#include "infra/Timing.h"
#include "ui/ScreenPopWindow.h"
#include "ui/WebEngineSetup.h"

#if defined(__SANITIZE_ADDRESS__)
// Chromium inside Qt WebEngine frees some objects through a base of another size, which AddressSanitizer
// would report at every run of the program built with it.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

namespace {

int refuse(const std::string& problem) {
    std::cerr << "orvane: " << problem << "\nTry 'orvane --help'." << std::endl;
    return 2;
}

// A window needs a display, unless the platform was chosen explicitly (offscreen, for instance).
bool displayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

// The one place the program's QApplication is made: whatever must be set before it goes here.
std::unique_ptr<QApplication> createApplication(int& argc, char** argv, bool headless) {
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareWebEngine(qgetenv("QT_QPA_PLATFORM") == "offscreen");
    QApplication::setOrganizationName(QStringLiteral("Brennic"));
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setApplicationVersion(QString::fromStdString(programVersion()));
    QGuiApplication::setDesktopFileName(QStringLiteral("orvane"));
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    return std::make_unique<QApplication>(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    // The crash-dump helper is this program started again in its own mode, before any option is read.
    if (CrashDumper::isHelperCommand(argc, argv)) return CrashDumper::runHelper(argc, argv, showCrashMessageBox);
    const char* environmentPassword = std::getenv("ORVANE_PASSWORD");
    const CommandLine commandLine =
        parseCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                         environmentPassword ? std::optional<std::string>(environmentPassword) : std::nullopt);
    if (!commandLine.options) return refuse(commandLine.error);
    ProgramOptions options = *commandLine.options;
    switch (options.mode) {
    case ProgramOptions::Mode::Help: std::cout << usageText(); return 0;
    case ProgramOptions::Mode::Version: printVersion(); return 0;
    case ProgramOptions::Mode::DumpTransitions: writeTransitions(std::cout); return std::cout ? 0 : 1;
    case ProgramOptions::Mode::Windowed:
    case ProgramOptions::Mode::Headless: break;
    }
    const bool headless = options.mode == ProgramOptions::Mode::Headless;
    if (!headless && !displayAvailable())
        return refuse("no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                      "'orvane --headless' runs the phone without a window");
    if (options.passwordFromInput) {
        const std::optional<std::string> password = readPasswordLine();
        if (!password) return refuse("--password-stdin: standard input ended before a password line");
        options.login.password = *password;
        if (const std::string problem = passwordProblem(options.login.password); !problem.empty()) return refuse(problem);
    }

    Timing::setScaleFromEnvironment();
    const CrashDumper crashDumper("Orvane");
    StopSignals stopSignals;  // before any thread starts
    int result = 0;
    {
        const std::unique_ptr<QApplication> application = createApplication(argc, argv, headless);
        CLogger::getInstance();
        ScreenPopWindow screenPop;
        auto voice = makeVoiceEngine(options.iaxPort);
        result = headless ? runHeadlessPhone(*voice, screenPop, options, stopSignals)
                          : runWindowedPhone(*voice, screenPop, options, stopSignals);
    }
    CLogger::destroyInstance();
    return result;
}
