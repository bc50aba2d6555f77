#include "desktop/HeadlessBrowserHandler.h"

#include "infra/CLogger.h"

void HeadlessBrowserHandler::setUrl(const std::string& url) {
    logMessage(LogLevel::Normal, "BrowserHandler1 ::navigate(%s)", url.c_str());
    {
        std::lock_guard guard(lock_);
        urls_.push_back(url);
    }
    if (observer_) observer_(url);
}

void HeadlessBrowserHandler::OnSubmitNotify(const std::string& text) {
    std::lock_guard guard(lock_);
    submitNotifications_.push_back(text);
}

std::vector<std::string> HeadlessBrowserHandler::urls() const {
    std::lock_guard guard(lock_);
    return urls_;
}

std::vector<std::string> HeadlessBrowserHandler::submitNotifications() const {
    std::lock_guard guard(lock_);
    return submitNotifications_;
}
