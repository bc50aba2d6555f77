#include "infra/SettingsStore.h"

#include <QFileInfo>
#include <QSettings>

#include "infra/CLogger.h"

namespace {

constexpr const char* kCaption = "Registry Error";
constexpr std::size_t kBufferSize = 100;  // a stored string holds at most 99 characters
constexpr int kErrorMoreData = 234;
constexpr int kErrorInvalidData = 13;

QSettings openStore() { return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Brennic", "Orvane"); }

}  // namespace

SettingsStore::SettingsStore(ErrorReport report) : report_(std::move(report)) {}

void SettingsStore::useFolder(const std::string& folder) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(folder));
}

bool SettingsStore::readText(const std::string& name, std::string& out) const {
    out.clear();
    QSettings store = openStore();
    const QFileInfo file(store.fileName());
    if (!file.exists()) return false;  // first run: nothing stored yet
    if (!file.isReadable() || store.status() != QSettings::NoError) {
        logMessage(LogLevel::Error, "RegOpenKeyEx failed.");
        if (report_) report_("RegOpenKeyEx failed.", kCaption);
        return false;
    }
    const QString key = QString::fromStdString(name);
    if (!store.contains(key)) return false;
    const std::string value = store.value(key).toString().toStdString();
    if (value.size() >= kBufferSize) {
        char text[200];
        std::snprintf(text, sizeof text, "RegQueryValueEx [%s] failed. Error:[%d].", name.substr(0, 100).c_str(),
                      kErrorMoreData);
        logMessage(LogLevel::Error, "%s", text);
        if (report_) report_(text, kCaption);
        return false;
    }
    out = value;
    return true;
}

bool SettingsStore::readRegistryValue(const std::string& name, std::string& out) const { return readText(name, out); }

bool SettingsStore::readRegistryValue(const std::string& name, std::uint32_t& out) const {
    std::string text;
    if (!readText(name, text)) return false;
    bool ok = false;
    const std::uint32_t value = QString::fromStdString(text).toUInt(&ok);
    if (!ok) {
        char message[200];
        std::snprintf(message, sizeof message, "RegQueryValueEx [%s] failed. Error:[%d].", name.substr(0, 100).c_str(),
                      kErrorInvalidData);
        logMessage(LogLevel::Error, "%s", message);
        if (report_) report_(message, kCaption);
        return false;
    }
    out = value;
    return true;
}

void SettingsStore::writeRegistryValue(const std::string& name, const std::string& data) const {
    QSettings store = openStore();
    store.setValue(QString::fromStdString(name), QString::fromStdString(data));
    store.sync();
    if (store.status() != QSettings::NoError) {
        logMessage(LogLevel::Error, "RegSetValueEx failed.");
        if (report_) report_("RegSetValueEx failed.", kCaption);
    }
}

void SettingsStore::writeRegistryValue(const std::string& name, std::uint32_t data) const {
    writeRegistryValue(name, std::to_string(data));
}
