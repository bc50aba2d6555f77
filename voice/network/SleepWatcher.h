#pragma once

#include <QDBusConnection>
#include <QObject>

#include <functional>

// Follows the system's sleep through logind's PrepareForSleep signal on D-Bus: true before
// the system sleeps, false once it is awake again. Signals arrive on the thread of the
// object's Qt event loop.
class SleepWatcher : public QObject {
    Q_OBJECT
public:
    // Runs on the object's thread.
    using Changed = std::function<void(bool sleeping)>;

    explicit SleepWatcher(Changed changed);
    // Follows the signal on `bus` (the system bus in the program); false, logged, when that
    // bus is not there or the signal cannot be followed.
    bool watch(const QDBusConnection& bus);

private slots:
    void prepareForSleep(bool sleeping);

private:
    const Changed changed_;
};
