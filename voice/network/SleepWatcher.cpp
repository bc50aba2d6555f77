#include "voice/network/SleepWatcher.h"

#include <QDBusError>

#include "infra/CLogger.h"
#include "infra/ThreadGroup.h"

namespace {
const QString kLogindService = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");
}  // namespace

SleepWatcher::SleepWatcher(Changed changed) : changed_(std::move(changed)) {}

bool SleepWatcher::watch(const QDBusConnection& bus) {
    if (!bus.isConnected()) {
        logMessage(LogLevel::Normal, "SleepWatcher::watch(): No system D-Bus (%s): sleep and wake are not followed",
                   qPrintable(bus.lastError().message()));
        return false;
    }
    QDBusConnection connection(bus);
    if (!connection.connect(kLogindService, kLogindPath, kLogindManager, QStringLiteral("PrepareForSleep"), this,
                            SLOT(prepareForSleep(bool)))) {
        logMessage(LogLevel::Warning, "SleepWatcher::watch(): Cannot follow logind's PrepareForSleep: %s",
                   qPrintable(connection.lastError().message()));
        return false;
    }
    logMessage(LogLevel::Debug, "SleepWatcher::watch(): Following logind's PrepareForSleep");
    return true;
}

void SleepWatcher::prepareForSleep(bool sleeping) {
    logMessage(LogLevel::Debug, "SleepWatcher::prepareForSleep(%s)", sleeping ? "true" : "false");
    runGuarded("SleepWatcher", [&] { changed_(sleeping); });
}
