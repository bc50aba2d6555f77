#include "agent/LoginSettings.h"

#include "infra/CLogger.h"
#include "infra/LeadingInt.h"
#include "infra/SettingsStore.h"

namespace {

constexpr std::size_t kUpdateTextLength = 255;

bool flag(const std::string& text, bool empty) { return text.empty() ? empty : leadingInt(text) == 1; }
int number(const std::string& text, int empty) { return text.empty() ? empty : leadingInt(text); }

}  // namespace

LoginSettings::LoginSettings(SettingsStore& store) : store_(store) {}

void LoginSettings::setRecordingSettings(const std::string& recordings, const std::string& mp3Encoding,
                                         const std::string& localRecording, const std::string& minRecordingTime,
                                         const std::string& maxRecordingTime, const std::string& sslConnection,
                                         const std::string& encodingQuality) {
    RecordingSettings settings;
    settings.active = flag(recordings, false);
    settings.mp3Encoding = flag(mp3Encoding, false);
    settings.localRecording = flag(localRecording, false);
    settings.minRecordingTime = number(minRecordingTime, 30);
    settings.maxRecordingTime = number(maxRecordingTime, 300);
    settings.ssl = flag(sslConnection, false);
    settings.encodingQuality = encodingQuality.empty() ? "high" : encodingQuality;
    logMessage(LogLevel::Normal,
               "Current recording settings : active[%d], mp3encoding[%d], encodingQuality[%s], localrecording[%d], "
               "MinrecordingTime[%d], MaxRecordingTime[%d], SSL connection[%d]",
               settings.active, settings.mp3Encoding, settings.encodingQuality.c_str(), settings.localRecording,
               settings.minRecordingTime, settings.maxRecordingTime, settings.ssl);
    recording_.set(settings);
}

void LoginSettings::setAutoUpdateSettings(const std::string& status, const std::string& host, const std::string& port,
                                          const std::string& path) {
    AutoUpdateSettings settings;
    settings.enabled = flag(status, false);
    if (!host.empty()) settings.host = host.substr(0, kUpdateTextLength);
    settings.port = number(port, 80);
    if (!path.empty()) settings.path = path.substr(0, kUpdateTextLength);
    logMessage(LogLevel::Normal, "Auto-Update settings : Update status[%d], host,port,path [%s:%d%s]", settings.enabled,
               settings.host.c_str(), settings.port, settings.path.c_str());
    autoUpdate_.set(settings);
    saveAutoUpdateSettings();
}

void LoginSettings::saveAutoUpdateSettings() const {
    const AutoUpdateSettings settings = autoUpdate_.get();
    store_.writeRegistryValue("AutoUpdate status", std::to_string(settings.enabled ? 1 : 0));
    store_.writeRegistryValue("AutoUpdate host", settings.host);
    store_.writeRegistryValue("AutoUpdate port", std::to_string(settings.port));
    store_.writeRegistryValue("AutoUpdate path", settings.path);
}

void LoginSettings::loadAutoUpdateSettings() {
    AutoUpdateSettings settings;
    std::string text;
    settings.enabled = store_.readRegistryValue("AutoUpdate status", text) && text == "1";
    if (store_.readRegistryValue("AutoUpdate host", text)) settings.host = text;
    if (store_.readRegistryValue("AutoUpdate port", text)) settings.port = leadingInt(text);
    if (store_.readRegistryValue("AutoUpdate path", text)) settings.path = text;
    autoUpdate_.set(settings);
}

void LoginSettings::storeAutoUpdatePath(const std::string& path) {
    autoUpdate_.update([&](AutoUpdateSettings& settings) { settings.path = path; });
    store_.writeRegistryValue("AutoUpdate path", path);
}

void LoginSettings::setRecordServer(const std::string& host, int port, bool ssl) { recordServer_.set({host, port, ssl}); }

std::string LoginSettings::recordingServerCaFile() const {
    std::string path;
    store_.readRegistryValue("RecordingServerCaFile", path);
    return path;
}
