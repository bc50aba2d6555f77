#pragma once

#include <string>

#include "infra/Guarded.h"

class SettingsStore;

// How calls are recorded, as the CTI server sets it at every login.
struct RecordingSettings {
    bool active = true;
    bool mp3Encoding = false;
    bool localRecording = false;
    int minRecordingTime = 30;   // seconds
    int maxRecordingTime = 300;  // seconds
    bool ssl = false;
    std::string encodingQuality = "high";
};

// Where the program looks for a newer version of itself at start-up.
struct AutoUpdateSettings {
    bool enabled = false;
    std::string host = "192.168.X.X";
    int port = 80;
    std::string path = "/velmoraccs/orvane/";
};

// The recording server; recordings stay on disk while it is not valid.
struct RecordServer {
    std::string host;
    int port = 0;
    bool ssl = false;
    bool keepRecordingsLocally = false;
};

// The working settings the CTI server hands out: recording and self-update. The update
// location is kept in the settings store for the next start.
class LoginSettings {
public:
    explicit LoginSettings(SettingsStore& store);

    // Texts as received; an empty text gives the default.
    void setRecordingSettings(const std::string& recordings, const std::string& mp3Encoding,
                              const std::string& localRecording, const std::string& minRecordingTime,
                              const std::string& maxRecordingTime, const std::string& sslConnection,
                              const std::string& encodingQuality);
    void resetRecordingSettings() { recording_.set({}); }
    RecordingSettings recording() const { return recording_.get(); }

    void setAutoUpdateSettings(const std::string& status, const std::string& host, const std::string& port,
                               const std::string& path);
    AutoUpdateSettings autoUpdate() const { return autoUpdate_.get(); }
    void saveAutoUpdateSettings() const;
    void loadAutoUpdateSettings();
    // Keeps the update path as the check used it (with its slashes), here and in the store.
    void storeAutoUpdatePath(const std::string& path);

    void setRecordServer(const std::string& host, int port, bool ssl);
    RecordServer recordServer() const { return recordServer_.get(); }

private:
    SettingsStore& store_;
    Guarded<RecordingSettings> recording_;
    Guarded<AutoUpdateSettings> autoUpdate_;
    Guarded<RecordServer> recordServer_;
};
