#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

// The message centre's two queues of server messages waiting for the ticker: alerts and
// statistics. Each holds a bounded number of items; the oldest give way to new ones.
class MessageCenter {
public:
    struct Item {
        std::string text;
        unsigned red = 0;
        unsigned green = 0;
        unsigned blue = 0;
        int mode = 0;
    };
    static constexpr std::size_t kQueueLimit = 100;

    // Enable-Message-Center and Disable-Message-Center: both empty the queues.
    void setEnabled(bool enabled);
    bool enabled() const;
    void queueAlert(const Item& item);
    void queueStatistic(const Item& item);
    std::size_t alerts() const;
    std::size_t statistics() const;

private:
    void append(std::deque<Item>& queue, const Item& item, const char* name);

    mutable std::mutex lock_;
    bool enabled_ = false;
    std::deque<Item> alerts_;
    std::deque<Item> statistics_;
};
