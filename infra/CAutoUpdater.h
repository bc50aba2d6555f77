#pragma once

#include <string>

typedef void CURL;

// Replaces the program file with the build published on the update web server when it differs
// from the running one, and starts it. One is made for the check at start-up and dropped after it.
// The server is trusted only as far as this: a download is installed only when it is a program
// for this machine carrying a version note; it is written under a temporary name in the
// program's folder and renamed over the program, so the program path is never empty or partial.
class CAutoUpdater {
public:
    enum Result {
        NewVersionInstalled = 0,  // not returned in practice: the new program has replaced this process
        NotOnline = 1,
        DownloadFailed = 4,       // nothing fetched, or not a versioned program for this machine
        NoRunningVersion = 5,
        SameVersion = 6,          // or a version text that cannot be compared
        ReplaceFailed = 7,        // the program file could not be replaced, or the new one not started
    };

    // The fixed name tried when the program's own name is not published.
    static constexpr const char* kSecondName = "VelmoraPhone.exe";
    static constexpr const char* kBackupName = "OldExecutable.bak";

    // `programPath`: the file to replace (the running program unless a test names another).
    explicit CAutoUpdater(std::string programPath = {});
    virtual ~CAutoUpdater();
    CAutoUpdater(const CAutoUpdater&) = delete;
    CAutoUpdater& operator=(const CAutoUpdater&) = delete;

    // "http://" + host + ":" + port + path. The path gets a leading "/" (then kept to 255
    // characters) and a trailing "/" when it lacks them; the caller stores it back.
    static std::string updateLocation(const std::string& host, int port, std::string& path);

    // The whole check; a Result. Returns only when this process goes on running.
    int runUpdateCheck(const std::string& location);
    // The internet handle exists and a route to the location's host exists.
    bool isOnline(const std::string& location) const;
    // Points the handle at `url` (canonicalised, at most 1024 characters) with the options of a
    // fresh download: no cache, agent "AutoUpdateAgent", the system's proxy variables.
    bool openUrl(const std::string& url);
    // Downloads location + name into the program's folder under a temporary name (the temporary
    // folder when the program's folder cannot be written); the file's path, or empty on failure.
    std::string fetchToTemp(const std::string& location, const std::string& name);
    // 1 when remote is newer (or, with anyDifference, different), -1 when older, 0 when equal;
    // -21 / -22 when the local / remote text is not up to four dot-separated decimal numbers.
    static int compareVersionTexts(const std::string& local, const std::string& remote, bool anyDifference);
    // Installs newFile as the program, keeping the old one as OldExecutable.bak beside it.
    bool replaceExecutable(const std::string& program, const std::string& newFile);
    // Runs the program file in place of this process with the same arguments; returns only on failure.
    bool restartProgram(const std::string& program);

private:
    std::string programPath_;
    CURL* internet_ = nullptr;
};

// The start-up step: checks for an update at host:port/path, logging what it does and its
// outcome, and returns the check's result. `path` comes back with its slashes, to be stored.
int runStartupUpdateCheck(const std::string& host, int port, std::string& path);
