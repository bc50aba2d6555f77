#pragma once

#include <string>

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

// The recording server the CTI server announced.
struct RecordServer {
    std::string host;
    int port = 0;
    bool ssl = false;

    // Without a host and a port, recordings are kept on disk.
    bool known() const { return !host.empty() && port != 0; }
};

// Where the recorder reads the settings it works with; they change at every login.
class RecordingConfig {
public:
    virtual RecordingSettings recording() const = 0;
    virtual RecordServer recordServer() const = 0;
    // The CA file that the recording server's certificate must chain to; empty: not checked.
    virtual std::string recordingServerCaFile() const = 0;

    // Recordings stay on disk when the settings say so or while no recording server is known.
    bool keepsRecordingsLocally() const { return recording().localRecording || !recordServer().known(); }

protected:
    ~RecordingConfig() = default;
};
