#include "app/StopSignals.h"

#include <csignal>
#include <cstdint>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

sigset_t stopSignalSet() {
    sigset_t wanted;
    sigemptyset(&wanted);
    sigaddset(&wanted, SIGINT);
    sigaddset(&wanted, SIGTERM);
    return wanted;
}

}  // namespace

StopSignals::StopSignals() {
    const sigset_t wanted = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &wanted, nullptr);
    fd_ = ::signalfd(-1, &wanted, SFD_CLOEXEC | SFD_NONBLOCK);
}

StopSignals::~StopSignals() {
    if (fd_ >= 0) ::close(fd_);
}

bool StopSignals::take() {
    signalfd_siginfo info{};
    bool arrived = false;
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) arrived = true;
    return arrived;
}

Wakeup::Wakeup() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Wakeup::~Wakeup() {
    if (fd_ >= 0) ::close(fd_);
}

void Wakeup::notify() {
    if (pending_.exchange(true)) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

void Wakeup::take() {
    // Read first: cleared before the read, a notification landing between the two would be
    // read away while its flag stays set, and every later one would be skipped.
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(fd_, &count, sizeof count);
    pending_ = false;
}
