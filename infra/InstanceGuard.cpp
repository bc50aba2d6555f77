#include "infra/InstanceGuard.h"

#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceGuard::InstanceGuard(std::string lockFile) : lockFile_(std::move(lockFile)) {
    if (!lockFile_.empty()) return;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        lockFile_ = std::string(runtime) + "/Orvane.lock";
    else
        lockFile_ = "/tmp/Orvane-" + std::to_string(::getuid()) + ".lock";
}

InstanceGuard::~InstanceGuard() {
    if (fd_ >= 0) ::close(fd_);
}

InstanceGuard::Result InstanceGuard::acquire() {
    if (fd_ >= 0) return Result::FirstInstance;
    const int fd = ::open(lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return Result::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return Result::AlreadyRunning;
    }
    fd_ = fd;
    return Result::FirstInstance;
}
