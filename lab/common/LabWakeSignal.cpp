#include "lab/common/LabWakeSignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

LabWakeSignal::LabWakeSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) throw std::runtime_error("eventfd failed");
}

LabWakeSignal::~LabWakeSignal() { ::close(fd_); }

void LabWakeSignal::raise() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
}

void LabWakeSignal::consume() {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(fd_, &count, sizeof count);
}
