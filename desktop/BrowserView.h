#pragma once

#include <string>
#include <vector>

// The screen pop's own browser window, one at a time, and the desktop's other ways of opening
// a page. Every operation may be called from any thread and returns without waiting for the
// page: the window belongs to the GUI thread, which carries the work out in the order asked.
class BrowserView {
public:
    // What the window reports; called on the GUI thread.
    class Events {
    public:
        virtual void OnTitleChange(const std::string& title) = 0;
        // The agent closed the window.
        virtual void OnQuit() = 0;
        // The page is gone: its renderer ended, or it never loaded within the time allowed.
        virtual void OnPageLost(const std::string& why) = 0;

    protected:
        ~Events() = default;
    };

    // 0, or the number of what went wrong (logged as the browser's error number).
    enum Result : unsigned { Done = 0, NoWindow = 1, BadAddress = 2, NoDesktop = 3 };

    virtual ~BrowserView() = default;

    // Where the window reports; nothing (nullptr) stops the reports, waiting for one under way.
    virtual void setEvents(Events* events) = 0;

    // A window exists: created and not closed since.
    virtual bool exists() const = 0;
    // A new window, hidden, 1000x700 at the screen's top left.
    virtual Result create() = 0;
    // Closes and forgets the window; it reports nothing more.
    virtual void close() = 0;
    virtual Result navigate(const std::string& url) = 0;
    virtual Result show() = 0;
    // A page is loading.
    virtual bool busy() const = 0;
    // The window holds a page (one it was sent to, alive).
    virtual bool hasDocument() const = 0;

    // Starts a program of the desktop with these arguments, not waiting for it.
    virtual bool startProgram(const std::string& program, const std::vector<std::string>& arguments) = 0;
    // Opens a page with the desktop's default browser.
    virtual bool openWithDefaultBrowser(const std::string& url) = 0;
};
