#include "desktop/BrowserHandler.h"

#include <optional>
#include <utility>

#include "AgentVocabulary.h"
#include "call/AgentProfile.h"
#include "call/Call.h"
#include "desktop/ScreenPopTarget.h"
#include "desktop/ScreenPopTitle.h"
#include "infra/CLogger.h"
#include "infra/Timing.h"

namespace {

constexpr int kNavigateAttempts = 10;
constexpr const char* kFirefox = "firefox";

// "agent.client.campaign.status.result": the part at `index` (0 is the agent), "" when absent.
std::string notifyPart(const std::string& text, int index) {
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = text.find('.', start);
        if (start == std::string::npos) return {};
        ++start;
    }
    return text.substr(start, text.find('.', start) - start);
}

}  // namespace

BrowserHandler::BrowserHandler(Agent& agent, Call& call, const AgentProfile& profile, BrowserView& view)
    : agent_(agent), call_(call), profile_(profile), view_(view) {
    view_.setEvents(this);
}

BrowserHandler::~BrowserHandler() {
    try {
        shutdown();
        view_.setEvents(nullptr);
    } catch (const std::exception& error) {
        logMessage(LogLevel::Error, "BrowserHandler::~BrowserHandler(): %s", error.what());
    }
}

void BrowserHandler::start() {
    std::lock_guard lifecycle(lifecycle_);
    if (thread_.joinable()) return;
    {
        std::lock_guard guard(lock_);
        stopping_ = false;
    }
    thread_ = std::thread([this] { browserThread(); });
}

void BrowserHandler::shutdown() {
    std::lock_guard lifecycle(lifecycle_);
    if (!thread_.joinable()) return;
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool BrowserHandler::running() const {
    std::lock_guard lifecycle(lifecycle_);
    return thread_.joinable();
}

void BrowserHandler::setUrl(const std::string& url) {
    start();
    {
        std::lock_guard guard(lock_);
        pendingUrl_ = url;
        urlPending_ = true;
    }
    wake_.notify_all();
}

bool BrowserHandler::popupInProgress() const { return call_.snapshot().submitPending; }

void BrowserHandler::browserThread() {
    std::unique_lock guard(lock_);
    while (!stopping_) {
        guard.unlock();
        startBrowser();
        guard.lock();
        const auto woken = [this] { return stopping_ || urlPending_ || !reports_.empty(); };
        if (view_.exists())
            wake_.wait(guard, woken);
        else
            wake_.wait_for(guard, Timing::scaled(intervals::kBrowserCheck), woken);
        std::deque<Report> reports;
        reports.swap(reports_);
        std::optional<std::string> url;
        if (urlPending_ && !stopping_) url = std::exchange(pendingUrl_, {});
        urlPending_ = false;
        guard.unlock();
        for (const Report& report : reports) handle(report);
        if (url) navigate(*url);
        guard.lock();
    }
    guard.unlock();
    closeBrowser();
}

bool BrowserHandler::stopping() const {
    std::lock_guard guard(lock_);
    return stopping_;
}

bool BrowserHandler::pause(std::chrono::microseconds interval) {
    std::unique_lock guard(lock_);
    return !wake_.wait_for(guard, Timing::scaled(interval), [this] { return stopping_; });
}

void BrowserHandler::startBrowser() {
    if (view_.exists()) return;
    logMessage(LogLevel::Normal, "Browser not started, Creating instance now...");
    const BrowserView::Result result = view_.create();
    logMessage(LogLevel::Normal, "BrowserHandler::startBrowser() - Browser instance creation returned code[%ld]",
               static_cast<long>(result));
    if (result != BrowserView::Done) {
        logMessage(LogLevel::Error, "BrowserHandler::startBrowser - Browser creation failed return code[%ld]",
                   static_cast<long>(result));
        return;
    }
    logMessage(LogLevel::Debug, "BrowserHandler::startBrowser() - Browser events connected, code[%ld]",
               static_cast<long>(result));
}

void BrowserHandler::closeBrowser() {
    if (!view_.exists()) return;
    logMessage(LogLevel::Normal, "Browser started, closing it");
    view_.close();
}

void BrowserHandler::navigate(const std::string& url) {
    logMessage(LogLevel::Normal, "BrowserHandler1 ::navigate(%s)", url.c_str());
    const ScreenPopTarget target = ScreenPopTarget::read(url);
    switch (target.form) {
    case ScreenPopTarget::Form::Nothing:
        return;
    case ScreenPopTarget::Form::Refused:
        logMessage(LogLevel::Warning, "BrowserHandler::navigate(%s) refused, not a screen pop: %s", url.c_str(),
                   target.refusal.c_str());
        return;
    case ScreenPopTarget::Form::View:
        navigateView(url, target.pages.front());
        return;
    default:
        openOutside(url, target);
    }
}

void BrowserHandler::openOutside(const std::string& address, const ScreenPopTarget& target) {
    using Form = ScreenPopTarget::Form;
    if (target.form == Form::FirefoxTabs || target.form == Form::FirefoxWindows)
        logMessage(LogLevel::Normal, "BrowserHandler::navigate(%s) 2 URLS, parsing", address.c_str());
    switch (target.form) {
    case Form::FirefoxTabs: {
        std::string commandLine;
        for (const std::string& page : target.pages) commandLine += (commandLine.empty() ? "" : " ") + page;
        logMessage(LogLevel::Normal, "BrowserHandler::navigate with 2 new tab (%s)", commandLine.c_str());
        if (!startFirefox(target.pages))
            for (const std::string& page : target.pages) openWithDefaultBrowser(page);
        return;
    }
    case Form::FirefoxWindows: {
        const std::string& first = target.pages[0];
        const std::string& second = target.pages[1];
        startFirefox({"-new-window", first});
        if (!pause(intervals::kFirefoxWindowPause)) return;
        if (!startFirefox({"-new-window", second})) {
            openWithDefaultBrowser(first);
            openWithDefaultBrowser(second);
        }
        logMessage(LogLevel::Normal, "BrowserHandler::navigate with 2 new windows (%s)/(%s) ", first.c_str(),
                   second.c_str());
        return;
    }
    case Form::Firefox:
        if (!startFirefox(target.pages)) openWithDefaultBrowser(target.pages.front());
        logMessage(LogLevel::Normal, "BrowserHandler::navigate only 1 url(%s)", target.pages.front().c_str());
        return;
    case Form::DefaultBrowser:
        openWithDefaultBrowser(target.pages.front());
        logMessage(LogLevel::Normal, "BrowserHandler::navigate(%s)", target.pages.front().c_str());
        return;
    default:
        return;
    }
}

bool BrowserHandler::startFirefox(const std::vector<std::string>& arguments) {
    if (view_.startProgram(kFirefox, arguments)) return true;
    logMessage(LogLevel::Normal, "Error in starting Firefox, will now open the default browser");
    return false;
}

void BrowserHandler::openWithDefaultBrowser(const std::string& page) {
    if (!view_.openWithDefaultBrowser(page))
        logMessage(LogLevel::Error, "BrowserHandler::navigate - the default browser did not open [%s]", page.c_str());
}

void BrowserHandler::navigateView(const std::string& address, const std::string& page) {
    if (!view_.exists()) startBrowser();
    bool navigated = false;
    bool visible = false;
    for (int attempt = 0; attempt < kNavigateAttempts; ++attempt) {
        if (view_.exists()) {
            const BrowserView::Result result = view_.navigate(page);
            if (result != BrowserView::Done) {
                waitWhileBusy();
                if (!view_.hasDocument()) {
                    logMessage(LogLevel::Error,
                               "A problem document is NULL (error number[%x]) was encountered while navigating to[%s]",
                               static_cast<unsigned>(result), address.c_str());
                    closeBrowser();
                    logMessage(LogLevel::Normal, "Browser stopped 1");
                    startBrowser();
                    logMessage(LogLevel::Normal, "Browser started 2");
                }
                logMessage(LogLevel::Error, "A problem (error number[%x]) was encountered while navigating to[%s]",
                           static_cast<unsigned>(result), address.c_str());
            } else {
                navigated = true;
                shownUrl_ = page;
                logMessage(LogLevel::Normal, "Browser started 3");
            }
            const BrowserView::Result shown = view_.show();
            if (shown != BrowserView::Done) {
                logMessage(LogLevel::Error, "A problem (error number[%x]) was encountered while putting the browser visible",
                           static_cast<unsigned>(shown));
            } else {
                visible = true;
                logMessage(LogLevel::Normal, "Browser started 4");
            }
        } else {
            logMessage(LogLevel::Error, "BrowserHandler::navigate Browser is not opened... unknown error");
        }
        if (navigated && visible) {
            logMessage(LogLevel::Normal, "Browser started 5");
            return;
        }
        logMessage(LogLevel::Error,
                   "Trying one more time to navigate [%d],BrowserHandler::navigate Browser is not opened... unknown error",
                   attempt);
        if (stopping()) return;
    }
}

void BrowserHandler::waitWhileBusy() {
    const auto limit = std::chrono::steady_clock::now() + Timing::scaled(intervals::kBrowserBusyLimit);
    while (view_.busy()) {
        if (std::chrono::steady_clock::now() >= limit) {
            logMessage(LogLevel::Warning, "BrowserHandler::navigate - the browser is still busy, going on");
            return;
        }
        if (!pause(intervals::kBrowserBusyPoll)) return;
    }
}

void BrowserHandler::OnTitleChange(const std::string& title) { queueReport({Report::Kind::Title, title}); }

void BrowserHandler::OnQuit() { queueReport({Report::Kind::Quit, {}}); }

void BrowserHandler::OnPageLost(const std::string& why) { queueReport({Report::Kind::PageLost, why}); }

void BrowserHandler::queueReport(Report report) {
    {
        std::lock_guard guard(lock_);
        reports_.push_back(std::move(report));
    }
    wake_.notify_all();
}

void BrowserHandler::handle(const Report& report) {
    switch (report.kind) {
    case Report::Kind::Title: titleChanged(report.text); return;
    case Report::Kind::Quit: browserQuit(); return;
    case Report::Kind::PageLost: pageLost(report.text); return;
    }
}

void BrowserHandler::titleChanged(const std::string& title) {
    logMessage(LogLevel::Normal, "BrowserHandler::OnTitleChange(): Title: [%s].", title.c_str());
    const ScreenPopTitle report = ScreenPopTitle::read(title);
    switch (report.report) {
    case ScreenPopTitle::Report::None:
        return;
    case ScreenPopTitle::Report::SubmitRequired:
        logMessage(LogLevel::Normal, "Pop-up page requires a submit");
        call_.setSubmitPending(true);
        agent_.QueuePhoneEvent(agent::SubmitReqEvent);
        return;
    case ScreenPopTitle::Report::SubmitSent:
        logMessage(LogLevel::Normal, "Submit has been pressed in the pop-up");
        break;
    case ScreenPopTitle::Report::TransferSent:
        break;
    }
    report.tagCall(call_);
    agent_.setAgentMode(3);
    if (!report.conform)
        logMessage(LogLevel::Warning, "New title not conform to client-campaign-status.submit:sent");
    else if (report.report == ScreenPopTitle::Report::SubmitSent)
        logMessage(LogLevel::Normal, "Found infos : Client[%s] Campaign[%s] Status[%s]", report.client.c_str(),
                   report.campaign.c_str(), report.status.c_str());
    else
        logMessage(LogLevel::Normal, "Found infos : Client[%s] Campaign[%s] Status[%s] Transfer #[%s]",
                   report.client.c_str(), report.campaign.c_str(), report.status.c_str(), report.transferNumber.c_str());
    call_.setSubmitPending(false);
    agent_.QueuePhoneEvent(agent::SubmitSentEvent);
    if (report.transferNumber.empty()) return;
    call_.setDialDestination(profile_.callPrefix.get() + report.transferNumber);
    agent_.SendTransferToCti();
}

void BrowserHandler::browserQuit() {
    logMessage(LogLevel::Normal, "BrowserHandler::OnQuit(): the agent closed the browser");
    agent_.QueuePhoneEvent(agent::BrowserClosedEvent);
    call_.setSubmitPending(false);
    closeBrowser();
}

// The page's form is gone with it: the phone stops waiting for its submit, as when the agent
// closes the window, and a fresh window takes the old one's place.
void BrowserHandler::pageLost(const std::string& why) {
    logMessage(LogLevel::Warning, "BrowserHandler::OnPageLost(): the page [%s] was lost (%s), creating a new browser",
               shownUrl_.c_str(), why.c_str());
    if (call_.takeSubmitPending()) agent_.QueuePhoneEvent(agent::BrowserClosedEvent);
    closeBrowser();
    startBrowser();
}

void BrowserHandler::OnSubmitNotify(const std::string& text) {
    logMessage(LogLevel::Normal, "BrowserHandler::OnSubmitNotify(): Message: [%s].", text.c_str());
    logMessage(LogLevel::Normal, "Submit has been pressed in the pop-up");
    ScreenPopTitle report;
    report.conform = true;
    report.client = notifyPart(text, 1);
    report.campaign = notifyPart(text, 2);
    report.status = notifyPart(text, 3);
    agent_.setAgentMode(3);
    logMessage(LogLevel::Normal, "Found infos in Submit Notify message: Client[%s] Campaign[%s] Status[%s]",
               report.client.c_str(), report.campaign.c_str(), report.status.c_str());
    report.tagCall(call_);
    call_.setSubmitPending(false);
    agent_.QueuePhoneEvent(agent::SubmitSentEvent);
}
