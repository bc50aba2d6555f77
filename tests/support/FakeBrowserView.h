#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/BrowserView.h"

// A browser window without a screen: records every operation as a line of text ("create",
// "navigate http://x", "show", "close", "program firefox -new-window http://x", "default
// http://x"), answers as a test sets it up, and lets the test play the window's reports.
class FakeBrowserView : public BrowserView {
public:
    // What navigate() answers; a failing one leaves no document behind unless `keepsDocument`.
    std::atomic<Result> navigateResult{Done};
    std::atomic<bool> keepsDocument{true};
    std::atomic<bool> programsStart{true};
    std::atomic<bool> stuckBusy{false};

    void setEvents(Events* events) override {
        std::lock_guard guard(eventsLock_);
        events_ = events;
    }
    bool exists() const override { return exists_; }
    Result create() override {
        record("create");
        exists_ = true;
        document_ = false;
        return Done;
    }
    void close() override {
        record("close");
        exists_ = false;
    }
    Result navigate(const std::string& url) override {
        if (!exists_) return NoWindow;
        record("navigate " + url);
        const Result result = navigateResult;
        document_ = result == Done || (document_ && keepsDocument);
        return result;
    }
    Result show() override {
        record("show");
        return exists_ ? Done : NoWindow;
    }
    bool busy() const override { return stuckBusy; }
    bool hasDocument() const override { return document_; }
    bool startProgram(const std::string& program, const std::vector<std::string>& arguments) override {
        std::string line = "program " + program;
        for (const std::string& argument : arguments) line += " " + argument;
        record(line);
        return programsStart;
    }
    bool openWithDefaultBrowser(const std::string& url) override {
        record("default " + url);
        return true;
    }

    // The window's reports, as the GUI thread would make them.
    void title(const std::string& text) { withEvents([&](Events& events) { events.OnTitleChange(text); }); }
    void agentCloses() {
        exists_ = false;
        withEvents([](Events& events) { events.OnQuit(); });
    }
    void pageLost(const std::string& why) { withEvents([&](Events& events) { events.OnPageLost(why); }); }

    std::vector<std::string> operations() const {
        std::lock_guard guard(lock_);
        return operations_;
    }
    bool has(const std::string& operation) const {
        std::lock_guard guard(lock_);
        for (const std::string& done : operations_)
            if (done == operation) return true;
        return false;
    }
    std::vector<std::string> pages() const {
        std::vector<std::string> found;
        for (const std::string& operation : operations())
            if (operation.starts_with("navigate ")) found.push_back(operation.substr(9));
        return found;
    }
    void clear() {
        std::lock_guard guard(lock_);
        operations_.clear();
    }

private:
    void record(std::string operation) {
        std::lock_guard guard(lock_);
        operations_.push_back(std::move(operation));
    }
    template <class Report>
    void withEvents(Report report) {
        std::lock_guard guard(eventsLock_);
        if (events_) report(*events_);
    }

    mutable std::mutex lock_;
    std::vector<std::string> operations_;
    std::mutex eventsLock_;
    Events* events_ = nullptr;
    std::atomic<bool> exists_{false};
    std::atomic<bool> document_{false};
};
