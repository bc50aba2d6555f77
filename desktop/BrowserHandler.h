#pragma once

#include <string>

// The screen pop: opens the page the CTI server names for a call and follows the agent's
// form on it.
class BrowserHandler {
public:
    virtual ~BrowserHandler() = default;

    // Opens `url` (an Internet page, or a "firefox:" / "default:" form).
    virtual void setUrl(const std::string& url) = 0;
    // The CTI server reports the form submitted: "agent.client.campaign.status.result".
    virtual void OnSubmitNotify(const std::string& text) = 0;
    // A page is still open whose form has not been submitted.
    virtual bool popupInProgress() const = 0;
};
