#include "app/CrashMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <cstring>

namespace {

bool screenAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && (std::strcmp(platform, "offscreen") == 0 || std::strcmp(platform, "minimal") == 0)) return false;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(name); value && *value) return true;
    return false;
}

}  // namespace

void showCrashMessageBox(const std::string& caption, const std::string& text, CrashDumper::MessageIcon icon) {
    if (!screenAvailable()) return;
    static int argc = 1;
    static char name[] = "orvane";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);  // the helper's own, made for its first message
    QMessageBox box(icon == CrashDumper::MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Warning,
                    QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::Ok);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);  // the nearest to a system-modal box
    box.exec();
}
