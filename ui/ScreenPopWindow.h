#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <QObject>
#include <QPointer>

#include "desktop/BrowserView.h"
#include "ui/ScreenPopView.h"

class QWebEngineProfile;

// The screen pop's browser window on Qt WebEngine: one top-level QWebEngineView at a time,
// 1000x700 at the screen's top left, hidden until a page is shown. Created on the GUI thread;
// the BrowserView operations may come from any thread and are carried to the GUI thread in the
// order they came. All windows share one off-the-record profile.
//
// A page that is still loading after a while is looked at: one with a document keeps it and
// stops loading; one without, or whose renderer does not answer, is reported lost, as is a page
// whose renderer ended.
class ScreenPopWindow : public QObject, public BrowserView {
    Q_OBJECT

public:
    explicit ScreenPopWindow(QObject* parent = nullptr);
    ~ScreenPopWindow() override;

    void setEvents(Events* events) override;
    bool exists() const override { return open_; }
    Result create() override;
    void close() override;
    Result navigate(const std::string& url) override;
    Result show() override;
    bool busy() const override { return busy_; }
    bool hasDocument() const override { return document_; }
    bool startProgram(const std::string& program, const std::vector<std::string>& arguments) override;
    bool openWithDefaultBrowser(const std::string& url) override;

    // The window now, for tests and measurements on the GUI thread (null when there is none).
    ScreenPopView* view() const { return view_; }

Q_SIGNALS:
    // A page finished loading in the window and is shown (GUI thread).
    void pageShown(const QString& url);

private:
    // Hands `work` to the GUI thread; the queue is ours, so the hand-over is visible to the
    // thread sanitizer (Qt's own event queue is not).
    void post(std::function<void()> work);
    Q_INVOKABLE void runPosted();
    void report(const std::function<void(Events&)>& what);
    void makeWindow();
    void destroyWindow();
    void lookAtSlowPage();
    void lose(const std::string& why);

    QWebEngineProfile* profile_;
    QPointer<ScreenPopView> view_;
    std::atomic<bool> open_{false};
    std::atomic<bool> busy_{false};
    std::atomic<bool> document_{false};
    std::mutex eventsLock_;
    Events* events_ = nullptr;
    std::mutex postedLock_;
    std::deque<std::function<void()>> posted_;
};
