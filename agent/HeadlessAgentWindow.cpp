#include "agent/HeadlessAgentWindow.h"

#include "infra/CLogger.h"

namespace {

const std::initializer_list<Control> kCompleteConferenceControls = {
    Control::CompleteConference,      Control::ConferenceLine1,           Control::ConferenceLine2,
    Control::ConferenceLine1Selected, Control::ConferenceLine1Unselected, Control::ConferenceLine2Selected,
    Control::ConferenceLine2Unselected,
};

// Main-window buttons in their places from left to right, with their texts.
const std::pair<Control, const char*> kButtons[] = {
    {Control::Login, "Login"},       {Control::Logout, "Logout"},         {Control::Ready, "Ready"},
    {Control::NotReady, "Not Ready"}, {Control::NotReadyReason, "Reason"}, {Control::HangUp, "Hangup"},
    {Control::Dial, "Dial"},         {Control::Conference, "Conference"}, {Control::Transfer, "Transfer"},
    {Control::Hold, "Hold"},         {Control::Unhold, "Muted"},          {Control::AttachedData, "Attached Data"},
};

}  // namespace

HeadlessAgentWindow::HeadlessAgentWindow(std::string titlePrefix) : titlePrefix_(titlePrefix.substr(0, 100)) {
    for (const auto& [control, text] : kButtons) controls_[control] = {true, true, true};
    for (Control control : {Control::Close, Control::StatusLine, Control::Ticker, Control::StateTimer})
        controls_[control] = {true, true, true};
    controls_[Control::SecondConference] = {true, true, false};
}

bool HeadlessAgentWindow::controlExists(Control control) const {
    std::lock_guard guard(lock_);
    const auto it = controls_.find(control);
    return it != controls_.end() && it->second.exists;
}

void HeadlessAgentWindow::enableControl(Control control, bool enabled) {
    {
        std::lock_guard guard(lock_);
        auto it = controls_.find(control);
        if (it != controls_.end() && it->second.exists) it->second.enabled = enabled;
    }
    changed();
}

void HeadlessAgentWindow::showControl(Control control, bool visible) {
    {
        std::lock_guard guard(lock_);
        auto it = controls_.find(control);
        if (it != controls_.end() && it->second.exists) it->second.visible = visible;
    }
    changed();
}

bool HeadlessAgentWindow::windowClosing() const {
    std::lock_guard guard(lock_);
    return windowClosing_;
}

std::string HeadlessAgentWindow::titlePrefix() const { return titlePrefix_; }

void HeadlessAgentWindow::setStatusText(const std::string& text) {
    {
        std::lock_guard guard(lock_);
        statusText_ = text;
    }
    changed();
}

void HeadlessAgentWindow::setCaption(const std::string& caption) {
    {
        std::lock_guard guard(lock_);
        caption_ = caption;
    }
    changed();
}

void HeadlessAgentWindow::disableAllButtons() {
    {
        std::lock_guard guard(lock_);
        for (const auto& [control, text] : kButtons) controls_[control].enabled = false;
    }
    changed();
}

void HeadlessAgentWindow::hideAttachedDataWindow() {
    {
        std::lock_guard guard(lock_);
        attachedDataWindowOpen_ = false;
    }
    changed();
}

void HeadlessAgentWindow::refreshAttachedDataWindow() {
    {
        std::lock_guard guard(lock_);
        ++attachedDataRefreshes_;
        attachedDataWindowOpen_ = true;
    }
    changed();
}

void HeadlessAgentWindow::showTicker(const TickerText& text) {
    {
        std::lock_guard guard(lock_);
        ticker_ = text;
    }
    changed();
}

void HeadlessAgentWindow::showCallTimer(const std::string& text, std::uint32_t) {
    {
        std::lock_guard guard(lock_);
        callTimer_ = text;
    }
    changed();
}

std::string HeadlessAgentWindow::callTimer() const {
    std::lock_guard guard(lock_);
    return callTimer_;
}

void HeadlessAgentWindow::openDialPad() {
    {
        std::lock_guard guard(lock_);
        ++dialPadRequests_;
    }
    changed();
}

void HeadlessAgentWindow::setNotReadyReasons(const std::vector<std::string>& reasons) {
    {
        std::lock_guard guard(lock_);
        notReadyReasons_ = reasons;
    }
    changed();
}

void HeadlessAgentWindow::showMessageBox(const std::string& text, const std::string& caption) {
    {
        std::lock_guard guard(lock_);
        messageBoxes_.emplace_back(text, caption);
    }
    changed();
}

int HeadlessAgentWindow::attachedDataRefreshes() const {
    std::lock_guard guard(lock_);
    return attachedDataRefreshes_;
}

TickerText HeadlessAgentWindow::ticker() const {
    std::lock_guard guard(lock_);
    return ticker_;
}

void HeadlessAgentWindow::openPreviewDial() {
    {
        std::lock_guard guard(lock_);
        ++previewDialRequests_;
    }
    changed();
}

void HeadlessAgentWindow::closeWindow() {
    {
        std::lock_guard guard(lock_);
        closed_ = true;
    }
    changed();
}

int HeadlessAgentWindow::previewDialRequests() const {
    std::lock_guard guard(lock_);
    return previewDialRequests_;
}

bool HeadlessAgentWindow::closed() const {
    std::lock_guard guard(lock_);
    return closed_;
}

int HeadlessAgentWindow::dialPadRequests() const {
    std::lock_guard guard(lock_);
    return dialPadRequests_;
}

std::vector<std::string> HeadlessAgentWindow::notReadyReasons() const {
    std::lock_guard guard(lock_);
    return notReadyReasons_;
}

std::vector<std::pair<std::string, std::string>> HeadlessAgentWindow::messageBoxes() const {
    std::lock_guard guard(lock_);
    return messageBoxes_;
}

HeadlessAgentWindow::ControlState HeadlessAgentWindow::control(Control control) const {
    std::lock_guard guard(lock_);
    const auto it = controls_.find(control);
    return it == controls_.end() ? ControlState{} : it->second;
}

std::string HeadlessAgentWindow::statusText() const {
    std::lock_guard guard(lock_);
    return statusText_;
}

std::string HeadlessAgentWindow::caption() const {
    std::lock_guard guard(lock_);
    return caption_;
}

void HeadlessAgentWindow::setWindowClosing() {
    {
        std::lock_guard guard(lock_);
        windowClosing_ = true;
    }
    changed();
}

void HeadlessAgentWindow::setExists(std::initializer_list<Control> controls, bool exists) {
    {
        std::lock_guard guard(lock_);
        for (Control control : controls) controls_[control] = {exists, exists, exists};
    }
    changed();
}

void HeadlessAgentWindow::openCompleteConferenceWindow() { setExists(kCompleteConferenceControls, true); }

void HeadlessAgentWindow::closeCompleteConferenceWindow() {
    if (!controlExists(Control::CompleteConference)) return;
    logMessage(LogLevel::Debug, "Closing complete conference dial window");
    {
        std::lock_guard guard(lock_);
        conferenceWindowClosed_ = true;
    }
    answered_.notify_all();
}

void HeadlessAgentWindow::showDialPad() { setExists({Control::DialPadOk}, true); }

void HeadlessAgentWindow::closeDialWindow() {
    if (!dialWindowOpen()) return;
    logMessage(LogLevel::Debug, "Closing dial window");
    setExists({Control::DialPadOk}, false);
    {
        std::lock_guard guard(lock_);
        dialWindowClosed_ = true;
    }
    answered_.notify_all();
}

void HeadlessAgentWindow::answerDialWindow(const DialWindowResult& answer) {
    {
        std::lock_guard guard(lock_);
        dialAnswers_.push_back(answer);
    }
    answered_.notify_all();
}

void HeadlessAgentWindow::clickConferenceButton(ConferenceClick click) {
    {
        std::lock_guard guard(lock_);
        conferenceClicks_.push_back(click);
    }
    answered_.notify_all();
}

std::string HeadlessAgentWindow::openDialWindowTitle() const {
    std::lock_guard guard(lock_);
    return dialWindowTitle_;
}

std::string HeadlessAgentWindow::openDialWindowNumber() const {
    std::lock_guard guard(lock_);
    return dialWindowNumber_;
}

void HeadlessAgentWindow::setChangeListener(std::function<void()> listener) {
    std::lock_guard guard(lock_);
    listener_ = std::move(listener);
}

void HeadlessAgentWindow::changed() const {
    std::function<void()> listener;
    {
        std::lock_guard guard(lock_);
        listener = listener_;
    }
    if (listener) listener();
}

DialWindowResult HeadlessAgentWindow::runDialWindow(const std::string& title, const std::string& number) {
    DialWindowResult result;
    {
        std::unique_lock guard(lock_);
        controls_[Control::DialPadOk] = {true, true, true};
        dialWindowTitle_ = title;
        dialWindowNumber_ = number;
        dialWindowClosed_ = false;
    }
    changed();
    {
        std::unique_lock guard(lock_);
        answered_.wait(guard, [this] { return !dialAnswers_.empty() || dialWindowClosed_; });
        if (!dialWindowClosed_) {
            result = dialAnswers_.front();
            dialAnswers_.pop_front();
        }
        dialWindowTitle_.clear();
        dialWindowNumber_.clear();
        controls_[Control::DialPadOk] = {};
    }
    changed();
    return result;
}

bool HeadlessAgentWindow::runCompleteConferenceDialog(ConferenceButtons& buttons, int) {
    setExists(kCompleteConferenceControls, true);
    showControl(Control::ConferenceLine1Selected, false);
    showControl(Control::ConferenceLine2Selected, false);
    bool completed = false;
    {
        std::lock_guard guard(lock_);
        conferenceWindowClosed_ = false;
    }
    for (bool open = true; open;) {
        std::unique_lock guard(lock_);
        answered_.wait(guard, [this] { return !conferenceClicks_.empty() || conferenceWindowClosed_; });
        const ConferenceClick click = conferenceWindowClosed_ ? ConferenceClick::Cancel : conferenceClicks_.front();
        if (!conferenceWindowClosed_) conferenceClicks_.pop_front();
        guard.unlock();
        switch (click) {  // the buttons' work runs on the dialog's own thread, as in a modal loop
        case ConferenceClick::Line1: buttons.OnBnClickedLine1(); break;
        case ConferenceClick::Line2: buttons.OnBnClickedLine2(); break;
        case ConferenceClick::Complete:
            buttons.OnBnClickedButtonCompleteConf();
            completed = true;
            open = false;
            break;
        case ConferenceClick::Cancel:
            buttons.OnBnClickedCancel();
            open = false;
            break;
        }
    }
    setExists(kCompleteConferenceControls, false);
    return completed;
}

bool HeadlessAgentWindow::dialWindowOpen() const { return controlExists(Control::DialPadOk); }

void HeadlessAgentWindow::setAttachedDataWindowOpen(bool open) {
    {
        std::lock_guard guard(lock_);
        attachedDataWindowOpen_ = open;
    }
    changed();
}

bool HeadlessAgentWindow::attachedDataWindowOpen() const {
    std::lock_guard guard(lock_);
    return attachedDataWindowOpen_;
}

std::string HeadlessAgentWindow::describe() const {
    std::lock_guard guard(lock_);
    std::string text = "\"" + caption_ + "\" ";
    for (const auto& [control, name] : kButtons) {
        const ControlState& state = controls_.at(control);
        if (!state.visible) continue;
        text += state.enabled ? std::string(" ") + name : std::string(" (") + name + ")";
    }
    if (!ticker_.text.empty()) text += "  | " + ticker_.text;
    return text;
}
