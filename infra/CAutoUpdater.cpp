#include "infra/CAutoUpdater.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include <curl/curl.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "infra/CLogger.h"
#include "infra/FileVersion.h"
#include "infra/Timing.h"

namespace {

constexpr std::size_t kLongestUrl = 1024;
constexpr std::size_t kLongestPath = 255;
constexpr long kBlockSize = 4096;
constexpr long kMostRedirects = 5;

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, std::max<std::size_t>(slash, 1));
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

void removeFile(const std::string& path) {
    if (!path.empty()) ::unlink(path.c_str());
}

// A new file under a temporary name in `folder`; its descriptor, and the name in `path`.
int createTemporaryFile(const std::string& folder, const std::string& name, std::string& path) {
    path = folder + "/." + name + ".update-XXXXXX";
    return ::mkostemp(path.data(), O_CLOEXEC);
}

bool copyFile(const std::string& from, int to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return false;
    char block[kBlockSize];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        const auto length = static_cast<std::size_t>(in.gcount());
        if (::write(to, block, length) != static_cast<ssize_t>(length)) return false;
    }
    return !in.bad();
}

// Up to four decimal parts; false when the text is anything else.
bool splitVersion(const std::string& text, std::string (&parts)[4]) {
    int count = 0;
    std::size_t start = 0;
    for (;;) {
        const auto dot = text.find('.', start);
        std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (count == 4 || part.empty() || part.find_first_not_of("0123456789") != std::string::npos) return false;
        part.erase(0, std::min(part.find_first_not_of('0'), part.size() - 1));  // "007" compares as "7"
        parts[count++] = part;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    for (; count < 4; ++count) parts[count] = "0";
    return true;
}

int compareNumbers(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    const int order = a.compare(b);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

struct Transfer {
    int file = -1;
    bool writeFailed = false;
    curl_off_t received = 0;
    std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
    std::chrono::microseconds stallLimit{};
};

// Each block of up to 4096 bytes is written as it arrives; a short write ends the transfer.
size_t writeBlock(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    if (::write(transfer->file, data, length) != static_cast<ssize_t>(length)) {
        transfer->writeFailed = true;
        return 0;
    }
    return length;
}

// A download that receives nothing for the stall limit is given up.
int watchProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    const auto now = std::chrono::steady_clock::now();
    if (received != transfer->received) {
        transfer->received = received;
        transfer->lastProgress = now;
        return 0;
    }
    return now - transfer->lastProgress > transfer->stallLimit ? 1 : 0;
}

long milliseconds(std::chrono::microseconds interval) {
    return static_cast<long>(std::max<long long>(1, interval.count() / 1000));
}

}  // namespace

CAutoUpdater::CAutoUpdater(std::string programPath)
    : programPath_(programPath.empty() ? runningProgramPath() : std::move(programPath)) {
    static std::once_flag initialised;
    static bool available = false;
    std::call_once(initialised, [] { available = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    if (available) internet_ = curl_easy_init();
}

CAutoUpdater::~CAutoUpdater() {
    if (internet_) curl_easy_cleanup(internet_);
}

std::string CAutoUpdater::updateLocation(const std::string& host, int port, std::string& path) {
    if (path.empty() || path.front() != '/') path = ("/" + path).substr(0, kLongestPath);
    if (path.back() != '/') path += '/';
    return "http://" + host + ":" + std::to_string(port) + path;
}

bool CAutoUpdater::isOnline(const std::string& location) const {
    if (!internet_) return false;
    CURLU* url = curl_url();
    char* host = nullptr;
    char* port = nullptr;
    const bool parsed = url && curl_url_set(url, CURLUPART_URL, location.c_str(), 0) == CURLUE_OK &&
                        curl_url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
                        curl_url_get(url, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK;
    std::string hostName = host ? host : "";
    const std::string service = port ? port : "80";
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(url);
    if (!parsed) {
        logMessage(LogLevel::Error, "CAutoUpdater::isOnline(): '%s' is not a URL", location.c_str());
        return false;
    }
    if (hostName.size() > 2 && hostName.front() == '[') hostName = hostName.substr(1, hostName.size() - 2);

    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* addresses = nullptr;
    if (const int error = ::getaddrinfo(hostName.c_str(), service.c_str(), &hints, &addresses); error != 0) {
        logMessage(LogLevel::Error, "CAutoUpdater::isOnline(): Cannot resolve '%s': %s", hostName.c_str(),
                   ::gai_strerror(error));
        return false;
    }
    // Connecting a datagram socket sends nothing: it only asks the system for a route.
    bool routed = false;
    for (const addrinfo* address = addresses; address && !routed; address = address->ai_next) {
        const int probe = ::socket(address->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        routed = probe >= 0 && ::connect(probe, address->ai_addr, address->ai_addrlen) == 0;
        if (probe >= 0) ::close(probe);
    }
    ::freeaddrinfo(addresses);
    if (!routed) logMessage(LogLevel::Error, "CAutoUpdater::isOnline(): No route to '%s'", hostName.c_str());
    return routed;
}

bool CAutoUpdater::openUrl(const std::string& url) {
    if (!internet_) return false;
    CURLU* parts = curl_url();
    char* canonical = nullptr;
    const bool parsed = parts && curl_url_set(parts, CURLUPART_URL, url.c_str(), CURLU_URLENCODE) == CURLUE_OK &&
                        curl_url_get(parts, CURLUPART_URL, &canonical, 0) == CURLUE_OK;
    const std::string text = canonical ? canonical : "";
    curl_free(canonical);
    curl_url_cleanup(parts);
    if (!parsed || text.size() > kLongestUrl) {
        logMessage(LogLevel::Error, "CAutoUpdater::openUrl(): '%s' is not a usable URL", url.c_str());
        return false;
    }
    static curl_slist* const noCache = curl_slist_append(curl_slist_append(nullptr, "Cache-Control: no-cache"),
                                                         "Pragma: no-cache");
    curl_easy_reset(internet_);
    curl_easy_setopt(internet_, CURLOPT_URL, text.c_str());
    curl_easy_setopt(internet_, CURLOPT_USERAGENT, "AutoUpdateAgent");
    curl_easy_setopt(internet_, CURLOPT_HTTPHEADER, noCache);
    curl_easy_setopt(internet_, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(internet_, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(internet_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(internet_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(internet_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(internet_, CURLOPT_MAXREDIRS, kMostRedirects);
    curl_easy_setopt(internet_, CURLOPT_FAILONERROR, 1L);  // an error page is not the program
    curl_easy_setopt(internet_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(internet_, CURLOPT_BUFFERSIZE, kBlockSize);
    curl_easy_setopt(internet_, CURLOPT_CONNECTTIMEOUT_MS,
                     milliseconds(Timing::scaled(intervals::kUpdateConnectTimeout)));
    return true;
}

std::string CAutoUpdater::fetchToTemp(const std::string& location, const std::string& name) {
    const std::string url = location + name;
    logMessage(LogLevel::Debug, "CAutoUpdater::fetchToTemp(): %s", url.c_str());
    if (!openUrl(url)) return {};
    std::string path;
    const std::string programFolder = folderOf(programPath_);
    Transfer transfer;
    transfer.file = createTemporaryFile(programFolder, name, path);
    if (transfer.file < 0) transfer.file = createTemporaryFile(std::filesystem::temp_directory_path(), name, path);
    if (transfer.file < 0) {
        logMessage(LogLevel::Error, "CAutoUpdater::fetchToTemp(): Cannot create a file for the download: %s",
                   std::strerror(errno));
        return {};
    }
    transfer.stallLimit = Timing::scaled(intervals::kUpdateStallTimeout);
    curl_easy_setopt(internet_, CURLOPT_WRITEFUNCTION, writeBlock);
    curl_easy_setopt(internet_, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(internet_, CURLOPT_XFERINFOFUNCTION, watchProgress);
    curl_easy_setopt(internet_, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(internet_, CURLOPT_NOPROGRESS, 0L);
    const CURLcode result = curl_easy_perform(internet_);
    const bool closed = ::close(transfer.file) == 0;
    if (result == CURLE_OK && closed) return path;
    logMessage(LogLevel::Error, "CAutoUpdater::fetchToTemp(): Failed to download '%s': %s", url.c_str(),
               transfer.writeFailed ? std::strerror(errno)
               : result == CURLE_ABORTED_BY_CALLBACK ? "nothing received for too long"
                                                     : curl_easy_strerror(result));
    removeFile(path);
    return {};
}

int CAutoUpdater::compareVersionTexts(const std::string& local, const std::string& remote, bool anyDifference) {
    std::string localParts[4];
    std::string remoteParts[4];
    if (!splitVersion(local, localParts)) return -21;
    if (!splitVersion(remote, remoteParts)) return -22;
    for (int i = 0; i < 4; ++i) {
        const int order = compareNumbers(remoteParts[i], localParts[i]);
        if (order != 0) return anyDifference ? 1 : order;
    }
    return 0;
}

bool CAutoUpdater::replaceExecutable(const std::string& program, const std::string& newFile) {
    logMessage(LogLevel::Debug, "CAutoUpdater::replaceExecutable(): %s", program.c_str());
    const std::string folder = folderOf(program);
    std::string staged = newFile;
    if (folderOf(newFile) != folder) {
        // Elsewhere (another file system, perhaps): copied in first, so the rename below stays atomic.
        const int copy = createTemporaryFile(folder, nameOf(program), staged);
        const bool copied = copy >= 0 && copyFile(newFile, copy);
        const int error = errno;
        if (copy >= 0) ::close(copy);
        if (!copied) {
            logMessage(LogLevel::Error, "CAutoUpdater::replaceExecutable(): Cannot write in '%s': %s", folder.c_str(),
                       std::strerror(error));
            if (copy >= 0) removeFile(staged);
            return false;
        }
        removeFile(newFile);
    }
    struct stat current {};
    const mode_t mode = ::stat(program.c_str(), &current) == 0 ? (current.st_mode & 07777) : 0755;
    const int file = ::open(staged.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ready = file >= 0 && ::fchmod(file, mode | S_IXUSR | S_IRUSR) == 0 && ::fsync(file) == 0;
    const int readyError = errno;
    if (file >= 0) ::close(file);
    if (!ready) {
        logMessage(LogLevel::Error, "CAutoUpdater::replaceExecutable(): Cannot prepare '%s': %s", staged.c_str(),
                   std::strerror(readyError));
        removeFile(staged);
        return false;
    }

    // The running program stays reachable as the backup; then one rename installs the new one.
    const std::string backup = folder + "/" + kBackupName;
    ::unlink(backup.c_str());
    if (::link(program.c_str(), backup.c_str()) != 0) {
        logMessage(LogLevel::Error, "CAutoUpdater::replaceExecutable(): Cannot keep '%s' as '%s': %s", program.c_str(),
                   backup.c_str(), std::strerror(errno));
        removeFile(staged);
        return false;
    }
    if (::rename(staged.c_str(), program.c_str()) != 0) {
        logMessage(LogLevel::Error, "CAutoUpdater::replaceExecutable(): Cannot replace '%s': %s", program.c_str(),
                   std::strerror(errno));
        removeFile(staged);
        ::unlink(backup.c_str());
        return false;
    }
    return true;
}

bool CAutoUpdater::restartProgram(const std::string& program) {
    logMessage(LogLevel::Debug, "CAutoUpdater::restartProgram(): %s", program.c_str());
    std::ifstream commandLine("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(commandLine, argument, '\0');) arguments.push_back(argument);
    if (arguments.empty()) arguments.push_back(program);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    logMessage(LogLevel::Error, "CAutoUpdater::restartProgram(): Cannot start '%s': %s", program.c_str(),
               std::strerror(errno));
    return false;
}

int CAutoUpdater::runUpdateCheck(const std::string& location) {
    logMessage(LogLevel::Debug, "CAutoUpdater::runUpdateCheck(): %s", location.c_str());
    if (!isOnline(location)) return NotOnline;
    logMessage(LogLevel::Warning,
               "CAutoUpdater::runUpdateCheck(): Downloads from the update server are not authenticated; only a "
               "program for this machine carrying a version is installed");

    // The download's version, when it is a program for this machine that carries one.
    auto versionOf = [](const std::string& download, const std::string& name) {
        if (download.empty()) return std::string();
        const ProgramFileInfo info = inspectProgramFile(download);
        if (info.kind != ProgramFileInfo::Kind::Executable)
            logMessage(LogLevel::Error, "CAutoUpdater::runUpdateCheck(): The published '%s' %s", name.c_str(),
                       describe(info.kind));
        const std::string text = readFileVersion(download);
        if (text.empty() && info.kind == ProgramFileInfo::Kind::Executable)
            logMessage(LogLevel::Error, "CAutoUpdater::runUpdateCheck(): The published '%s' carries no version",
                       name.c_str());
        return text;
    };
    const std::string ownName = nameOf(programPath_);
    std::string downloaded = fetchToTemp(location, ownName);
    std::string remote = versionOf(downloaded, ownName);
    if (remote.empty()) {
        removeFile(downloaded);
        downloaded = fetchToTemp(location, kSecondName);
        remote = versionOf(downloaded, kSecondName);
    }
    const std::string local = readFileVersion(programPath_);
    if (local.empty() || remote.empty()) {
        removeFile(downloaded);
        return local.empty() ? NoRunningVersion : DownloadFailed;
    }
    logMessage(LogLevel::Debug, "CAutoUpdater::runUpdateCheck(): running %s, published %s", local.c_str(),
               remote.c_str());
    if (compareVersionTexts(local, remote, true) != 1) {
        removeFile(downloaded);
        return SameVersion;
    }
    if (!replaceExecutable(programPath_, downloaded)) {
        removeFile(downloaded);
        return ReplaceFailed;
    }
    restartProgram(programPath_);
    return ReplaceFailed;
}

int runStartupUpdateCheck(const std::string& host, int port, std::string& path) {
    const std::string location = CAutoUpdater::updateLocation(host, port, path);
    logMessage(LogLevel::Normal, "AutoUpdate enabled[%s], check if it is needed",
               (host + ":" + std::to_string(port) + path).c_str());
    int result = CAutoUpdater::ReplaceFailed;
    {
        CAutoUpdater updater;
        result = updater.runUpdateCheck(location);
    }
    switch (result) {
    case CAutoUpdater::NewVersionInstalled:
        logMessage(LogLevel::Normal, "New version downloaded and installed");
        break;
    case CAutoUpdater::DownloadFailed:
        logMessage(LogLevel::Error, "File download error, will use current version");
        break;
    case CAutoUpdater::SameVersion:
        logMessage(LogLevel::Normal, "This is currently the last version available");
        break;
    default:
        logMessage(LogLevel::Error, "Error [%d] while auto-updating", result);
        break;
    }
    return result;
}
