#include "desktop/MessageCenter.h"

#include "infra/CLogger.h"

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
