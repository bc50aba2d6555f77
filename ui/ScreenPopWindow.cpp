#include "ui/ScreenPopWindow.h"

#include <QApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include "infra/CLogger.h"
#include "infra/Timing.h"
#include "ui/ScreenPopView.h"

namespace {

constexpr int kWidth = 1000;
constexpr int kHeight = 700;

int scaledMilliseconds(std::chrono::milliseconds interval) {
    return static_cast<int>(std::max<long long>(1, Timing::scaled(interval).count() / 1000));
}

const char* terminationText(QWebEnginePage::RenderProcessTerminationStatus status) {
    switch (status) {
    case QWebEnginePage::NormalTerminationStatus: return "ended";
    case QWebEnginePage::AbnormalTerminationStatus: return "ended abnormally";
    case QWebEnginePage::CrashedTerminationStatus: return "crashed";
    case QWebEnginePage::KilledTerminationStatus: return "was killed";
    }
    return "ended";
}

}  // namespace

ScreenPopWindow::ScreenPopWindow(QObject* parent) : QObject(parent), profile_(new QWebEngineProfile(this)) {}

ScreenPopWindow::~ScreenPopWindow() {
    // The pages go before their profile.
    delete view_.data();
}

void ScreenPopWindow::setEvents(Events* events) {
    std::lock_guard guard(eventsLock_);
    events_ = events;
}

void ScreenPopWindow::report(const std::function<void(Events&)>& what) {
    std::lock_guard guard(eventsLock_);
    if (events_) what(*events_);
}

void ScreenPopWindow::post(std::function<void()> work) {
    {
        std::lock_guard guard(postedLock_);
        posted_.push_back(std::move(work));
    }
    QMetaObject::invokeMethod(this, "runPosted", Qt::QueuedConnection);
}

void ScreenPopWindow::runPosted() {
    std::deque<std::function<void()>> work;
    {
        std::lock_guard guard(postedLock_);
        work.swap(posted_);
    }
    for (const auto& step : work) step();
}

BrowserView::Result ScreenPopWindow::create() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return NoDesktop;
    open_ = true;
    busy_ = false;
    document_ = false;
    post([this] { makeWindow(); });
    return Done;
}

void ScreenPopWindow::close() {
    open_ = false;
    busy_ = false;
    document_ = false;
    post([this] { destroyWindow(); });
}

BrowserView::Result ScreenPopWindow::navigate(const std::string& url) {
    if (!open_) return NoWindow;
    const QUrl page(QString::fromStdString(url), QUrl::StrictMode);
    if (!page.isValid() || (page.scheme() != "http" && page.scheme() != "https")) return BadAddress;
    post([this, page] {
        if (view_) view_->load(page);
    });
    return Done;
}

BrowserView::Result ScreenPopWindow::show() {
    if (!open_) return NoWindow;
    post([this] {
        if (!view_) return;
        view_->show();
        if (QGuiApplication::platformName() == "offscreen") return;  // nobody to bring it to
        view_->raise();
        view_->activateWindow();
    });
    return Done;
}

bool ScreenPopWindow::startProgram(const std::string& program, const std::vector<std::string>& arguments) {
    QStringList list;
    for (const std::string& argument : arguments) list << QString::fromStdString(argument);
    return QProcess::startDetached(QString::fromStdString(program), list);
}

bool ScreenPopWindow::openWithDefaultBrowser(const std::string& url) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    post([url] {
        if (!QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::StrictMode)))
            logMessage(LogLevel::Error, "BrowserHandler::navigate - the default browser did not open [%s]", url.c_str());
    });
    return true;
}

void ScreenPopWindow::makeWindow() {
    destroyWindow();
    if (!open_) return;  // closed again before the GUI thread got here
    auto* view = new ScreenPopView();
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setPage(new QWebEnginePage(profile_, view));
    view->move(0, 0);
    view->resize(kWidth, kHeight);
    auto* loadWatch = new QTimer(view);
    loadWatch->setSingleShot(true);
    QWebEnginePage* page = view->page();

    connect(page, &QWebEnginePage::titleChanged, this, [this, view](const QString& title) {
        view->setWindowTitle(title);
        report([&](Events& events) { events.OnTitleChange(title.toStdString()); });
    });
    connect(page, &QWebEnginePage::loadStarted, this, [this, loadWatch] {
        busy_ = true;
        document_ = true;
        loadWatch->start(scaledMilliseconds(intervals::kScreenPopLoadLimit));
    });
    connect(page, &QWebEnginePage::loadFinished, this, [this, view, loadWatch](bool loaded) {
        busy_ = false;
        loadWatch->stop();
        if (loaded && view->isVisible()) Q_EMIT pageShown(view->url().toString());
    });
    connect(loadWatch, &QTimer::timeout, this, [this] { lookAtSlowPage(); });
    connect(page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int code) {
                document_ = false;
                lose(std::string("its renderer ") + terminationText(status) + ", code " + std::to_string(code));
            });
    connect(page, &QWebEnginePage::windowCloseRequested, view, &QWidget::close);
    connect(view, &ScreenPopView::closedByAgent, this, [this, view] {
        if (view != view_) return;
        open_ = false;
        busy_ = false;
        document_ = false;
        report([](Events& events) { events.OnQuit(); });
    });
    view_ = view;
}

void ScreenPopWindow::destroyWindow() {
    if (!view_) return;
    ScreenPopView* view = view_;
    view_ = nullptr;
    view->page()->disconnect(this);
    view->disconnect(this);
    delete view;
}

// A page still loading after the limit: a document that is there stays and stops loading; a
// page that never got one, or whose renderer does not answer, is lost.
void ScreenPopWindow::lookAtSlowPage() {
    if (!view_) return;
    const QPointer<ScreenPopView> view = view_;
    const auto answered = std::make_shared<bool>(false);
    const int limit = static_cast<int>(intervals::kScreenPopLoadLimit.count() / 1000);
    view->page()->runJavaScript("document.readyState + ' ' + location.href", [this, view, answered, limit](const QVariant& state) {
        *answered = true;
        if (!view || view != view_ || !busy_) return;
        const QStringList parts = state.toString().split(' ');
        const bool hasDocument = parts.size() == 2 && parts[0] != "loading" && parts[1] != "about:blank";
        if (!hasDocument) {
            lose("it did not load within " + std::to_string(limit) + " s");
            return;
        }
        logMessage(LogLevel::Warning, "BrowserHandler - the page [%s] still loads after %d s: stopped, it stays",
                   parts[1].toStdString().c_str(), limit);
        view->page()->triggerAction(QWebEnginePage::Stop);
    });
    QTimer::singleShot(scaledMilliseconds(intervals::kScreenPopScriptAnswer), this, [this, view, answered, limit] {
        if (*answered || !view || view != view_) return;
        lose("it did not load within " + std::to_string(limit) + " s and its renderer does not answer");
    });
}

void ScreenPopWindow::lose(const std::string& why) {
    report([&](Events& events) { events.OnPageLost(why); });
}
