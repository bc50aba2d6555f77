#include "voice/network/NetworkRecovery.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

#include "core/AgentWindow.h"
#include "infra/CLogger.h"
#include "voice/SwitchRegistration.h"
#include "voice/VoiceAgent.h"
#include "voice/engine/VoiceEngine.h"
#include "voice/network/SleepWatcher.h"

NetworkRecovery::NetworkRecovery(VoiceEngine& engine, SwitchRegistration& registration, VoiceAgent& agent,
                                 RouteLookup lookUp)
    : engine_(engine),
      registration_(registration),
      agent_(agent),
      lookUp_(std::move(lookUp)),
      watcher_([this](const NetworkWatcher::Change& change) {
          if (wakePending_.exchange(false))
              sleepChanged(false);
          else
              networkChanged(change);
      }) {}

NetworkRecovery::~NetworkRecovery() { stop(); }

void NetworkRecovery::start() {
    registration_.setOnRegistered([this] { watcher_.requestLook(); });
    watcher_.start();
    if (sleep_) return;
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || application->thread() != QThread::currentThread()) {
        logMessage(LogLevel::Normal, "NetworkRecovery::start(): No Qt event loop here: sleep and wake are not followed");
        return;
    }
    // The wake is dealt with on the watcher's thread: looking the switch up may block, and the
    // signal comes on the window's thread.
    sleep_ = std::make_unique<SleepWatcher>([this](bool sleeping) {
        if (sleeping || !watcher_.running()) return sleepChanged(sleeping);
        wakePending_ = true;
        watcher_.requestLook();
    });
    if (!sleep_->watch(QDBusConnection::systemBus())) sleep_.reset();
}

void NetworkRecovery::stop() {
    registration_.setOnRegistered({});
    watcher_.stop();
    sleep_.reset();
}

void NetworkRecovery::networkChanged(const NetworkWatcher::Change& change) {
    std::lock_guard guard(lock_);
    if (!registration_.registrationWanted()) return;
    if (!change.changed || !baseline_ || baseline_->switchAddress != registration_.switchAddress()) {
        rememberPath();
        return;
    }
    const auto path = lookUp_(baseline_->switchAddress);
    if (!path) return;  // logged; the next change looks again
    const auto& removed = change.removedAddresses;
    const bool sourceRemoved = std::find(removed.begin(), removed.end(), baseline_->path.source) != removed.end();
    if (*path == baseline_->path && !sourceRemoved) {
        logMessage(LogLevel::Debug, "NetworkRecovery::networkChanged(): The path to the switch [%s] is unchanged: %s",
                   baseline_->switchAddress.c_str(), path->text().c_str());
        return;
    }
    logMessage(LogLevel::Warning,
               "NetworkRecovery::networkChanged(): The path to the switch [%s] changed (%s, was %s%s): registering again",
               baseline_->switchAddress.c_str(), path->text().c_str(), baseline_->path.text().c_str(),
               sourceRemoved ? ", its address was removed" : "");
    const bool sameSource = path->reachable && path->source == baseline_->path.source && !sourceRemoved;
    baseline_->path = *path;
    restart(sameSource, "Network changed, registering with switch again...");
}

void NetworkRecovery::sleepChanged(bool sleeping) {
    std::lock_guard guard(lock_);
    if (sleeping) {
        logMessage(LogLevel::Debug, "NetworkRecovery::sleepChanged(): The computer is going to sleep");
        return;
    }
    if (!registration_.registrationWanted()) {
        logMessage(LogLevel::Debug, "NetworkRecovery::sleepChanged(): Awake again, not registered with a switch");
        return;
    }
    const std::string switchAddress = registration_.switchAddress();
    const auto path = lookUp_(switchAddress);
    const bool sameSource = path && baseline_ && baseline_->switchAddress == switchAddress && path->reachable &&
                            path->source == baseline_->path.source;
    logMessage(LogLevel::Warning,
               "NetworkRecovery::sleepChanged(): Awake again, registering with the switch [%s] again (%s)%s",
               switchAddress.c_str(), path ? path->text().c_str() : "path unknown",
               sameSource ? "" : ": the calls' path is gone");
    if (path && baseline_) baseline_->path = *path;
    restart(sameSource, "Awake again, registering with switch again...");
}

void NetworkRecovery::rememberPath() {
    const std::string switchAddress = registration_.switchAddress();
    const auto path = lookUp_(switchAddress);
    if (!path) return;
    logMessage(LogLevel::Debug, "NetworkRecovery::rememberPath(): The path to the switch [%s]: %s",
               switchAddress.c_str(), path->text().c_str());
    baseline_ = Baseline{switchAddress, *path};
}

void NetworkRecovery::restart(bool keepCalls, const char* tickerText) {
    if (!registration_.renewAfterNetworkChange()) return;
    agent_.showTicker(TickerText::alert(tickerText));
    engine_.restartNetwork(keepCalls);
}
