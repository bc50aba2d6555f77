#include "recording/CSADirRead.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "infra/CLogger.h"

namespace {

constexpr const char* kCauseDescriptions[] = {
    "No error occured.",
    "An unspecified error occurred.",
    "The file could not be located.",
    "All or part of the path is invalid.",
    "The permitted number of open files was exceeded.",
    "Access to the file was denied.",
    "There was an attempt to use an invalid file handle.",
    "The current working directory cannot be removed.",
    "There are no more directory entries.",
    "There was an error trying to set the file pointer.",
    "There was a hardware error.",
    "SHARE.EXE was not loaded, or a shared region was locked.",
    "There was an attempt to lock a region that was already locked.",
    "The disk is full.",
    "The end of file was reached.",
};

std::string withoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
    return path;
}

template <class Visit>
void forEachEntry(const std::string& folder, Visit visit) {
    DIR* directory = ::opendir(folder.c_str());
    if (!directory) return;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "/" + name;
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) continue;
        visit(name, path, status);
    }
    ::closedir(directory);
}

}  // namespace

void CSADirRead::scanFolder(const std::string& path, bool withSubfolders) {
    const std::string folder = withoutTrailingSeparator(path);
    folders_.push_back(folder);
    if (withSubfolders) addSubfolders(folder);
}

void CSADirRead::addSubfolders(const std::string& path) {
    forEachEntry(path, [&](const std::string&, const std::string& entryPath, const struct stat& status) {
        if (!S_ISDIR(status.st_mode)) return;
        folders_.push_back(entryPath);
        addSubfolders(entryPath);
    });
}

void CSADirRead::collectFiles(const std::string& pattern, bool takeFiles, bool takeFolders) {
    for (const std::string& folder : folders_) {
        forEachEntry(folder, [&](const std::string& name, const std::string& path, const struct stat& status) {
            const bool isFolder = S_ISDIR(status.st_mode);
            if (isFolder ? !takeFolders : !(takeFiles && S_ISREG(status.st_mode))) return;
            if (::fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) != 0) return;
            files_.push_back({path, isFolder, static_cast<unsigned>(status.st_mode), status.st_ctime, status.st_mtime,
                              static_cast<std::uint64_t>(status.st_size)});
        });
    }
}

void CSADirRead::sortFiles() {
    std::stable_sort(files_.begin(), files_.end(),
                     [](const FileEntry& a, const FileEntry& b) { return a.size < b.size; });
}

bool CSADirRead::removeFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0) return true;
    const int cause = causeOf(errno);
    logMessage(LogLevel::Error, "Error happened while trying to delete the file[%s], id[%ld] description[%s]",
               path.c_str(), static_cast<long>(cause), causeDescription(cause));
    return false;
}

int CSADirRead::causeOf(int errnoValue) {
    switch (errnoValue) {
        case 0: return 0;
        case ENOENT: return 2;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP: return 3;
        case EMFILE:
        case ENFILE: return 4;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ETXTBSY: return 5;
        case EBADF: return 6;
        case EBUSY: return 7;
        case EIO: return 10;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return 13;
        default: return 1;
    }
}

const char* CSADirRead::causeDescription(int cause) {
    constexpr int known = static_cast<int>(std::size(kCauseDescriptions));
    return cause >= 0 && cause < known ? kCauseDescriptions[cause] : "";
}
