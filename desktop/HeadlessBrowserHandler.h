#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "desktop/BrowserHandler.h"

// The screen pop without a screen: remembers every page asked for and hands it to an
// observer (the headless run prints it), so nothing is lost and nothing pretends to open.
class HeadlessBrowserHandler : public BrowserHandler {
public:
    using Observer = std::function<void(const std::string& url)>;

    explicit HeadlessBrowserHandler(Observer observer = {}) : observer_(std::move(observer)) {}

    void setUrl(const std::string& url) override;
    void OnSubmitNotify(const std::string& text) override;
    bool popupInProgress() const override { return false; }  // nothing is shown, nothing to wait for

    std::vector<std::string> urls() const;
    std::vector<std::string> submitNotifications() const;

private:
    Observer observer_;
    mutable std::mutex lock_;
    std::vector<std::string> urls_;
    std::vector<std::string> submitNotifications_;
};
