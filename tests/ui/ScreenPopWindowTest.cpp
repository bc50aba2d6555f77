#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QWebEnginePage>

#include "AgentVocabulary.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "desktop/BrowserHandler.h"
#include "infra/Timing.h"
#include "lab/web/LabWebServer.h"
#include "support/FakeScreenPopAgent.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "ui/ScreenPopWindow.h"
#include "ui/WebEngineSetup.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 20s;  // a page in the real engine, on a loaded machine
constexpr double kTimeScale = 0.05;

// The one window (and web profile) of this test program, on the GUI thread. That thread is also
// the engine's: a test never blocks it, it runs its events while it waits.
ScreenPopWindow* screenPop = nullptr;

// Runs the GUI thread's events until `done` holds or `timeout` passes; its last answer.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kWait) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

// Records what the desktop's default browser was asked to open, instead of opening it.
class DefaultBrowser : public QObject {
    Q_OBJECT

public:
    DefaultBrowser() {
        QDesktopServices::setUrlHandler("http", this, "open");
        QDesktopServices::setUrlHandler("https", this, "open");
    }
    ~DefaultBrowser() override {
        QDesktopServices::unsetUrlHandler("http");
        QDesktopServices::unsetUrlHandler("https");
    }
    QStringList opened;

public Q_SLOTS:
    void open(const QUrl& url) { opened << url.toString(); }
};

class ScreenPopWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        Timing::setScale(kTimeScale);
        std::ofstream(folder.path() / "slow.html")
            << "<html><head><title>submit:required</title></head><body>Case<img src=\"/slow.png\"></body></html>";
        ASSERT_TRUE(web.start());
        profile.callPrefix.set("9");
    }
    void TearDown() override {
        handler.reset();
        EXPECT_TRUE(pumpUntil([] { return screenPop->view() == nullptr; }));
        Timing::setScale(1.0);
    }

    ScreenPopView* view() const { return screenPop->view(); }
    bool hasEvent(int event) const {
        for (int queued : agent.events())
            if (queued == event) return true;
        return false;
    }
    // Opens `url` and waits until the window shows it.
    QPointer<ScreenPopView> open(const std::string& url) {
        handler->setUrl(url);
        pumpUntil([&] { return view() && view()->isVisible() && view()->url().toString().toStdString() == url; });
        return view();
    }
    // A window other than `old` (gone, since there is one at a time: a new one may take its address).
    bool replaced(const QPointer<ScreenPopView>& old) const { return view() && !old; }

    TempDir folder;
    LabWebServer web{{0, folder.str()}};
    LogCapture log;
    FakeScreenPopAgent agent;
    Call call;
    AgentProfile profile;
    std::unique_ptr<BrowserHandler> handler = std::make_unique<BrowserHandler>(agent, call, profile, *screenPop);
};

TEST_F(ScreenPopWindowTest, FormReportsSubmitRequiredThenItsOutcome) {
    handler->start();
    ASSERT_TRUE(pumpUntil([&] { return view() != nullptr; }));
    EXPECT_FALSE(view()->isVisible());  // a hidden window waits for the first page

    ASSERT_TRUE(open(web.formUrl("client=C42&campaign=Winter&status=SOLD&submit-after=300")));
    EXPECT_EQ(view()->geometry().size(), QSize(1000, 700));
    EXPECT_EQ(view()->pos(), QPoint(0, 0));
    ASSERT_TRUE(pumpUntil([&] { return hasEvent(agent::SubmitSentEvent); }));
    EXPECT_EQ(agent.events(), (std::vector<int>{agent::SubmitReqEvent, agent::SubmitSentEvent}));
    EXPECT_EQ(call.snapshot().tags.client, "C42");
    EXPECT_EQ(call.snapshot().tags.campaign, "Winter");
    EXPECT_EQ(call.snapshot().tags.status, "SOLD");
    EXPECT_TRUE(call.snapshot().tags.tagged);
    EXPECT_FALSE(handler->popupInProgress());
    EXPECT_EQ(agent.mode(), 3);
    EXPECT_EQ(agent.transfers(), 0);
    EXPECT_TRUE(pumpUntil([&] { return web.waitForRequest("POST /submit kind=submit&client=C42", 0ms).has_value(); }));
    EXPECT_EQ(view()->windowTitle(), "C42-Winter-SOLD.submit:sent");
}

TEST_F(ScreenPopWindowTest, TransferWithANumberAsksForItAndWithoutOneDoesNot) {
    ASSERT_TRUE(open(web.formUrl("client=C7&campaign=Spring&status=XFER&transfer=5551234&submit-after=100")));
    ASSERT_TRUE(pumpUntil([&] { return agent.transfers() == 1; }));
    EXPECT_EQ(call.snapshot().dialDestination, "95551234");
    EXPECT_EQ(call.snapshot().tags.status, "XFER");
    EXPECT_EQ(agent.events(), (std::vector<int>{agent::SubmitReqEvent, agent::SubmitSentEvent}));

    agent.clear();
    call.setDialDestination("");
    ASSERT_TRUE(open(web.formUrl("client=C7&campaign=Spring&status=DONE&transfer=&submit-after=100")));
    ASSERT_TRUE(pumpUntil([&] { return hasEvent(agent::SubmitSentEvent); }));
    EXPECT_EQ(agent.transfers(), 0);
    EXPECT_EQ(call.snapshot().dialDestination, "");
}

TEST_F(ScreenPopWindowTest, AgentClosingTheWindowQueuesBrowserClosedAndANewHiddenWindowFollows) {
    const QPointer<ScreenPopView> shown = open(web.formUrl());
    ASSERT_TRUE(shown);
    ASSERT_TRUE(pumpUntil([&] { return handler->popupInProgress(); }));
    shown->close();
    ASSERT_TRUE(pumpUntil([&] { return hasEvent(agent::BrowserClosedEvent) && replaced(shown); }));
    EXPECT_FALSE(handler->popupInProgress());
    EXPECT_FALSE(view()->isVisible());
    ASSERT_TRUE(open(web.formUrl("client=Next")));  // the new window takes the next page
}

TEST_F(ScreenPopWindowTest, DefaultBrowserFormsNeverTouchTheWindowAndOtherSchemesAreRefused) {
    DefaultBrowser defaultBrowser;
    const QPointer<ScreenPopView> shown = open(web.formUrl("client=Kept"));
    ASSERT_TRUE(shown);
    const QUrl kept = shown->url();
    handler->setUrl("default:" + web.formUrl("client=Elsewhere"));
    ASSERT_TRUE(pumpUntil([&] { return !defaultBrowser.opened.isEmpty(); }));
    EXPECT_EQ(defaultBrowser.opened, QStringList{QString::fromStdString(web.formUrl("client=Elsewhere"))});

    for (const std::string refused : {"javascript:document.title='submit:sent'", "file:///etc/passwd",
                                      "data:text/html,<title>submit:required</title>", "default:file:///etc/passwd"})
        handler->setUrl(refused);
    ASSERT_TRUE(pumpUntil([&] { return log.mentions("BrowserHandler::navigate(default:file:///etc/passwd) refused"); }));
    EXPECT_TRUE(shown && view() == shown);
    EXPECT_EQ(view()->url(), kept);
    EXPECT_FALSE(web.waitForRequest("GET /form?client=Elsewhere", 0ms));
    EXPECT_EQ(defaultBrowser.opened.size(), 1);
}

TEST_F(ScreenPopWindowTest, ARendererKilledMidPageGivesANewWindowAndTheFormIsNoLongerAwaited) {
    const QPointer<ScreenPopView> shown = open(web.formUrl());
    ASSERT_TRUE(shown);
    ASSERT_TRUE(pumpUntil([&] { return handler->popupInProgress(); }));
    const qint64 renderer = shown->page()->renderProcessPid();
    ASSERT_GT(renderer, 0);
    ::kill(static_cast<pid_t>(renderer), SIGKILL);
    ASSERT_TRUE(pumpUntil([&] { return hasEvent(agent::BrowserClosedEvent) && replaced(shown); }));
    EXPECT_TRUE(log.mentions("was lost (its renderer was killed"));
    EXPECT_FALSE(handler->popupInProgress());
    ASSERT_TRUE(open(web.formUrl("client=After")));
    ASSERT_TRUE(pumpUntil([&] { return handler->popupInProgress(); }));
}

TEST_F(ScreenPopWindowTest, APageThatNeverLoadsIsReplacedAndOneWaitingOnAPartStays) {
    web.failNext(LabWebFault::Stall, 1, "/form");
    handler->setUrl(web.formUrl());
    ASSERT_TRUE(pumpUntil([&] { return view() && view()->isVisible(); }));
    const QPointer<ScreenPopView> stalled = view();
    ASSERT_TRUE(pumpUntil([&] { return replaced(stalled); }));
    EXPECT_TRUE(log.mentions("was lost (it did not load within"));
    EXPECT_FALSE(view()->isVisible());

    web.failNext(LabWebFault::Stall, 1, "/slow.png");
    const QPointer<ScreenPopView> slow = open(web.url("/slow.html"));
    ASSERT_TRUE(slow);
    ASSERT_TRUE(pumpUntil([&] { return log.mentions("still loads after"); }));
    EXPECT_TRUE(pumpUntil([&] { return !screenPop->busy(); }));
    EXPECT_TRUE(slow && view() == slow);
    EXPECT_TRUE(handler->popupInProgress());
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// Chromium inside Qt WebEngine (not built with the sanitizers) deletes some of its objects through
// a base of another size; AddressSanitizer's check of that is off in this program only.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();  // the engine is not needed to list
    // A home and runtime folder of its own.
    const char* workdir = std::getenv("ORVANE_TEST_WORKDIR");
    const std::filesystem::path home = std::filesystem::path(workdir ? workdir : "/tmp") / "ui-home";
    std::filesystem::create_directories(home / "runtime");
    std::filesystem::permissions(home / "runtime", std::filesystem::perms::owner_all);
    qputenv("HOME", home.string().c_str());
    qputenv("XDG_RUNTIME_DIR", (home / "runtime").string().c_str());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    prepareWebEngine(true);
    QApplication application(argc, argv);
    int result = 0;
    {
        ScreenPopWindow window;
        screenPop = &window;
        result = RUN_ALL_TESTS();
        screenPop = nullptr;
    }
    return result;
}

#include "ScreenPopWindowTest.moc"
