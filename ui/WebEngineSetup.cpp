#include "ui/WebEngineSetup.h"

#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QLoggingCategory>

namespace {

void addChromiumFlag(QByteArray& flags, const QByteArray& flag) {
    if (flags.split(' ').contains(flag)) return;
    if (!flags.isEmpty()) flags += ' ';
    flags += flag;
}

}  // namespace

void prepareWebEngine(bool offscreen) {
    QLoggingCategory::setFilterRules("qt.webenginecontext.info=false");  // its set-up dump on every start
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (::geteuid() == 0) addChromiumFlag(flags, "--no-sandbox");
    if (offscreen) addChromiumFlag(flags, "--disable-gpu");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}
