#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "desktop/BrowserView.h"

class Call;
struct AgentProfile;
struct ScreenPopTarget;

// The screen pop: opens the page the CTI server names for a call, in the phone's own browser
// window or another browser, and follows the agent's form on it through the window's title
// (submit required, submitted with its outcome, or submitted with a transfer).
//
// The browser thread runs from start() to shutdown(): it keeps a hidden window ready,
// re-creating it when the agent closes it or its page is lost, opens the pages setUrl() asks
// for, and handles the window's reports in the order they came.
class BrowserHandler : private BrowserView::Events {
public:
    // What the screen pop asks of the agent core.
    class Agent {
    public:
        virtual void QueuePhoneEvent(int event) = 0;
        virtual void setAgentMode(int mode) = 0;
        // The transfer the page asked for, to the call's dial destination.
        virtual void SendTransferToCti() = 0;

    protected:
        ~Agent() = default;
    };

    BrowserHandler(Agent& agent, Call& call, const AgentProfile& profile, BrowserView& view);
    ~BrowserHandler();
    BrowserHandler(const BrowserHandler&) = delete;
    BrowserHandler& operator=(const BrowserHandler&) = delete;

    // Starts the browser thread unless it runs.
    void start();
    // Ends the browser thread and closes the window.
    void shutdown();
    bool running() const;

    // Opens `url` (starting the browser thread on first use). Returns at once; a second call
    // before the thread gets to the first replaces it.
    void setUrl(const std::string& url);
    // The CTI server reports the form submitted: "agent.client.campaign.status.result".
    void OnSubmitNotify(const std::string& text);
    // A page asked for a submit and has not had it.
    bool popupInProgress() const;

private:
    struct Report {
        enum class Kind { Title, Quit, PageLost } kind;
        std::string text;
    };

    // The window's reports, queued for the browser thread.
    void OnTitleChange(const std::string& title) override;
    void OnQuit() override;
    void OnPageLost(const std::string& why) override;
    void queueReport(Report report);

    void browserThread();
    void startBrowser();
    void closeBrowser();
    void navigate(const std::string& url);
    void navigateView(const std::string& address, const std::string& page);
    void openOutside(const std::string& address, const ScreenPopTarget& target);
    bool startFirefox(const std::vector<std::string>& arguments);
    void openWithDefaultBrowser(const std::string& page);
    void waitWhileBusy();
    // Sleeps for `interval` (scaled), or less when the handler stops; false when it stops.
    bool pause(std::chrono::microseconds interval);
    bool stopping() const;

    void handle(const Report& report);
    void titleChanged(const std::string& title);
    void browserQuit();
    void pageLost(const std::string& why);

    Agent& agent_;
    Call& call_;
    const AgentProfile& profile_;
    BrowserView& view_;

    mutable std::mutex lock_;  // everything below
    std::condition_variable wake_;
    bool stopping_ = false;
    bool urlPending_ = false;
    std::string pendingUrl_;
    std::deque<Report> reports_;
    std::thread thread_;
    std::string shownUrl_;  // the last page sent to the window; the browser thread's
    mutable std::mutex lifecycle_;  // start() and shutdown()
};
