#pragma once

#include <string>

#include "infra/Guarded.h"
#include "recording/RecordingSettings.h"

class SettingsStore;

// Where the program looks for a newer version of itself at start-up.
struct AutoUpdateSettings {
    bool enabled = false;
    std::string host = "192.168.X.X";
    int port = 80;
    std::string path = "/velmoraccs/orvane/";
};

// The working settings the CTI server hands out: recording and self-update. The update
// location is kept in the settings store for the next start, as is the agent's own choice of a
// CA file for the recording server.
class LoginSettings : public RecordingConfig {
public:
    explicit LoginSettings(SettingsStore& store);

    // Texts as received; an empty text gives the default.
    void setRecordingSettings(const std::string& recordings, const std::string& mp3Encoding,
                              const std::string& localRecording, const std::string& minRecordingTime,
                              const std::string& maxRecordingTime, const std::string& sslConnection,
                              const std::string& encodingQuality);
    void resetRecordingSettings() { recording_.set({}); }
    RecordingSettings recording() const override { return recording_.get(); }

    void setAutoUpdateSettings(const std::string& status, const std::string& host, const std::string& port,
                               const std::string& path);
    AutoUpdateSettings autoUpdate() const { return autoUpdate_.get(); }
    void saveAutoUpdateSettings() const;
    void loadAutoUpdateSettings();
    // Keeps the update path as the check used it (with its slashes), here and in the store.
    void storeAutoUpdatePath(const std::string& path);

    void setRecordServer(const std::string& host, int port, bool ssl);
    RecordServer recordServer() const override { return recordServer_.get(); }
    // The stored value "RecordingServerCaFile", read at every upload.
    std::string recordingServerCaFile() const override;

private:
    SettingsStore& store_;
    Guarded<RecordingSettings> recording_;
    Guarded<AutoUpdateSettings> autoUpdate_;
    Guarded<RecordServer> recordServer_;
};
