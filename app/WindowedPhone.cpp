#include "app/WindowedPhone.h"

#include <QApplication>
#include <QSocketNotifier>

#include "agent/CImplementation.h"
#include "app/CommandLine.h"
#include "app/StartUp.h"
#include "app/StopSignals.h"
#include "core/EventQueue.h"
#include "infra/InstanceGuard.h"
#include "ui/COrvaneDlg.h"
#include "ui/ScreenPopWindow.h"

int runWindowedPhone(VoiceEngine& voice, ScreenPopWindow& screenPop, const ProgramOptions& options,
                     StopSignals& stopSignals) {
    InstanceGuard guard;
    if (!startUp(guard, printStamped)) return 0;

    COrvaneDlg bar([&](AgentWindow& window) {
        return std::make_unique<CImplementation>(
            CImplementation::Seams{window, EventQueue::instance(), voice, screenPop, options.clientPort});
    });
    QSocketNotifier stopRequests(stopSignals.fd(), QSocketNotifier::Read);
    QObject::connect(&stopRequests, &QSocketNotifier::activated, &bar, [&] {
        if (stopSignals.take()) bar.requestCleanClose();
    });
    QObject::connect(&bar, &QDialog::finished, qApp, &QCoreApplication::quit);
    QApplication::setQuitOnLastWindowClosed(false);

    bar.show();
    bar.OnInitDialog();
    const LoginEntries login = completedLogin(options.login, *bar.core());
    if (options.loginAtStart && login.valid()) {
        bar.loginWith(login);
    } else {
        if (options.loginAtStart)
            printStamped("orvane: the agent ID or password given is not valid; the login dialog asks for them");
        bar.OnBnClickedButtonLogin();
    }
    QApplication::exec();
    return 0;
}
