#include "desktop/MessageCenter.h"

#include <vector>

#include "infra/CLogger.h"
#include "infra/Timing.h"

namespace {

constexpr int kStatisticSpeed = 1;
constexpr int kAlertSpeed = 2;
constexpr int kIdleSpeed = 2;
constexpr int kIdleMode = 4;

std::uint32_t colourOf(const MessageCenter::Item& item) {
    return (item.red & 0xFFu) << 16 | (item.green & 0xFFu) << 8 | (item.blue & 0xFFu);
}

// "A^B^^C" gives "A", "B", "", "C".
std::vector<std::string> parts(const std::string& text) {
    std::vector<std::string> found;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find('^', start)) != std::string::npos; start = at + 1)
        found.push_back(text.substr(start, at - start));
    found.push_back(text.substr(start));
    return found;
}

std::string joined(const std::vector<std::string>& parts, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < parts.size(); ++i) text += (i == from ? "" : "^") + parts[i];
    return text;
}

}  // namespace

MessageCenter::MessageCenter(Show show) : show_(std::move(show)) {}

MessageCenter::~MessageCenter() {
    close();
    if (thread_.joinable()) thread_.join();
}

bool MessageCenter::start() {
    if (!running_.tryAcquireFor(std::chrono::milliseconds(0))) return false;
    logMessage(LogLevel::Normal, "CImplementation::MessageCenter()");
    {
        std::lock_guard guard(lock_);
        alerts_.clear();
        statistics_.clear();
        enabled_ = true;
        closing_ = false;
    }
    if (thread_.joinable()) thread_.join();  // a thread that ended before
    thread_ = std::thread([this] { doMessageCenterThread(); });
    return true;
}

void MessageCenter::setEnabled(bool enabled) {
    std::lock_guard guard(lock_);
    enabled_ = enabled;
    alerts_.clear();
    statistics_.clear();
}

bool MessageCenter::enabled() const {
    std::lock_guard guard(lock_);
    return enabled_;
}

void MessageCenter::append(std::deque<Item>& queue, const Item& item, const char* name) {
    if (queue.size() >= kQueueLimit) {
        logMessage(LogLevel::Warning, "Message center %s queue full, dropping the oldest [%s]", name,
                   queue.front().text.c_str());
        queue.pop_front();
    }
    queue.push_back(item);
}

void MessageCenter::queueAlert(const Item& item) {
    std::lock_guard guard(lock_);
    append(alerts_, item, "alert");
}

void MessageCenter::queueStatistic(const Item& item) {
    std::lock_guard guard(lock_);
    append(statistics_, item, "statistics");
}

std::size_t MessageCenter::alerts() const {
    std::lock_guard guard(lock_);
    return alerts_.size();
}

std::size_t MessageCenter::statistics() const {
    std::lock_guard guard(lock_);
    return statistics_.size();
}

void MessageCenter::close() {
    {
        std::lock_guard guard(lock_);
        closing_ = true;
    }
    closed_.notify_all();
}

void MessageCenter::waitUntilStopped() {
    running_.acquire();
    running_.release();
}

bool MessageCenter::closing() const {
    std::lock_guard guard(lock_);
    return closing_;
}

bool MessageCenter::rest(std::chrono::milliseconds interval) {
    std::unique_lock guard(lock_);
    return !closed_.wait_for(guard, Timing::scaled(interval), [this] { return closing_; });
}

std::optional<MessageCenter::Item> MessageCenter::takeFirst(std::deque<Item>& queue) {
    std::lock_guard guard(lock_);
    if (queue.empty() || !enabled_) return std::nullopt;
    Item first = std::move(queue.front());
    queue.pop_front();
    return first;
}

bool MessageCenter::showUnlessClosing(const TickerText& text) {
    std::lock_guard guard(lock_);
    if (closing_) return false;
    show_(text);
    return true;
}

bool MessageCenter::clearTicker() {
    TickerText idle{"", 0x000000, 0x000000, kIdleSpeed, kIdleMode};
    idle.idleClear = true;
    return showUnlessClosing(idle) && rest(intervals::kMessageCenterIdle);
}

void MessageCenter::doMessageCenterThread() {
    logMessage(LogLevel::Normal, "CImplementation::doMessageCenterThread() ");
    while (playWhileEnabled() && clearTicker()) {
    }
    running_.release();
    logMessage(LogLevel::Normal, "Ending CImplementation::doMessageCenterThread() ");
}

bool MessageCenter::playWhileEnabled() {
    while (enabled()) {
        if (const std::optional<Item> entry = takeFirst(statistics_); entry && !playStatistic(*entry)) return false;
        if (!playAlerts() || !clearTicker()) return false;
    }
    return !closing();
}

// Shows the entry's parts in turn; an alert waiting puts the parts not yet shown back in front.
bool MessageCenter::playStatistic(const Item& entry) {
    const std::vector<std::string> texts = parts(entry.text);
    for (std::size_t part = 0; part < texts.size() && enabled(); ++part) {
        {
            std::lock_guard guard(lock_);
            if (!alerts_.empty()) {
                Item rest = entry;
                rest.text = joined(texts, part);
                statistics_.push_front(std::move(rest));
                return true;
            }
        }
        if (texts[part].empty())
            logMessage(LogLevel::Debug, "CImplementation::doMessageCenterThread() - part %d of [%s] is empty",
                       static_cast<int>(part) + 1, entry.text.c_str());
        if (!showUnlessClosing({texts[part], colourOf(entry), 0x000000, kStatisticSpeed, entry.mode}) ||
            !rest(intervals::kMessageCenterStatistic))
            return false;
    }
    return true;
}

bool MessageCenter::playAlerts() {
    while (const std::optional<Item> alert = takeFirst(alerts_)) {
        if (!showUnlessClosing({alert->text, colourOf(*alert), 0x000000, kAlertSpeed, alert->mode}) ||
            !rest(intervals::kMessageCenterAlert))
            return false;
    }
    return true;
}
