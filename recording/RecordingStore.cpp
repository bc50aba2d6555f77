#include "recording/RecordingStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "infra/CLogger.h"
#include "recording/CSADirRead.h"
#include "recording/RecordingFileName.h"

namespace {

std::mutex folderLock;
std::string folderOverride;

std::string applicationDataFolder() {
    // The application's own data folder once it has named itself; the same place before that.
    if (!QCoreApplication::organizationName().isEmpty() && !QCoreApplication::applicationName().isEmpty())
        return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString() + "/Brennic/Orvane";
}

// "name-N.ext" for the Nth other recording of the same name.
std::string numbered(const std::string& name, int number) {
    const auto dot = name.rfind('.');
    const std::string suffix = "-" + std::to_string(number);
    std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    stem.resize(std::min(stem.size(), kLongestRecordingName - suffix.size() - extension.size()));
    return stem + suffix + extension;
}

bool writeAll(int file, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(file, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

// The temporary file made complete and durable, then given its name without replacing another.
int placeFile(const std::string& temporary, const std::string& folder, const std::string& name, std::string& placed) {
    for (int number = 0; number < 1000; ++number) {
        placed = number == 0 ? name : numbered(name, number);
        const std::string target = folder + "/" + placed;
        if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (errno == EEXIST) continue;
        if (errno != EINVAL && errno != ENOSYS) return errno;
        // A file system without the no-replace rename: look first.
        if (::access(target.c_str(), F_OK) == 0) continue;
        return ::rename(temporary.c_str(), target.c_str()) == 0 ? 0 : errno;
    }
    return EEXIST;
}

void logUnwritten(const std::string& name, const std::string& folder, int error) {
    const int cause = CSADirRead::causeOf(error);
    logMessage(LogLevel::Error, "Recording [%s] could not be written to [%s]: %s (%s)", name.c_str(), folder.c_str(),
               CSADirRead::causeDescription(cause), std::strerror(error));
}

}  // namespace

std::string RecordingStore::folder() {
    {
        std::lock_guard guard(folderLock);
        if (!folderOverride.empty()) return folderOverride;
    }
    if (const char* chosen = std::getenv("ORVANE_RECORDINGS_DIR"); chosen && *chosen) return chosen;
    return applicationDataFolder() + "/recordings";
}

void RecordingStore::useFolder(const std::string& folder) {
    std::lock_guard guard(folderLock);
    folderOverride = folder;
}

bool RecordingStore::write(const std::string& name, std::span<const std::uint8_t> bytes) {
    const std::string where = folder();
    std::error_code created;
    std::filesystem::create_directories(where, created);
    // Hidden, and matching no recording pattern, until it is complete.
    std::string temporary = where + "/.recording-XXXXXX";
    const int file = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (file < 0) {
        logUnwritten(name, where, errno);
        return false;
    }
    int error = writeAll(file, bytes) && ::fsync(file) == 0 ? 0 : errno;
    if (::close(file) != 0 && error == 0) error = errno;
    std::string placed;
    if (error == 0) error = placeFile(temporary, where, name, placed);
    if (error != 0) {
        ::unlink(temporary.c_str());
        logUnwritten(name, where, error);
        return false;
    }
    if (placed != name) logMessage(LogLevel::Warning, "A recording named [%s] is already stored; this one is [%s]",
                                   name.c_str(), placed.c_str());
    return true;
}

void RecordingStore::hold(std::string name, std::vector<std::uint8_t> bytes) {
    std::lock_guard guard(lock_);
    logMessage(LogLevel::Warning, "Recording [%s] is held in memory until it can be written or sent", name.c_str());
    held_.push_back({std::move(name), std::move(bytes)});
}

std::vector<RecordingStore::Held> RecordingStore::takeHeld() {
    std::lock_guard guard(lock_);
    return std::exchange(held_, {});
}

std::size_t RecordingStore::heldCount() const {
    std::lock_guard guard(lock_);
    return held_.size();
}

void RecordingStore::writeHeld() {
    for (Held& recording : takeHeld())
        if (!write(recording.name, recording.bytes)) hold(std::move(recording.name), std::move(recording.bytes));
}
