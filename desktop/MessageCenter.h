#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/AgentWindow.h"
#include "infra/Semaphore.h"

// The message centre: statistics and alerts the CTI server sends for the agent, played on the
// ticker in turn by the message-centre thread. Each part of a statistics text ("A^B^C") shows
// for 3 seconds; an alert that arrives meanwhile cuts in after the current part, shows for
// 10 seconds, and the statistics resume with their remaining parts. Between rounds, and all
// along while the centre is disabled, the ticker is cleared every 5 seconds.
//
// The two queues hold a bounded number of entries; the oldest give way to new ones.
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

    // How the centre reaches the ticker (setTickerText).
    using Show = std::function<void(const TickerText& text)>;

    explicit MessageCenter(Show show);
    ~MessageCenter();
    MessageCenter(const MessageCenter&) = delete;
    MessageCenter& operator=(const MessageCenter&) = delete;

    // Start-up: empties the queues, enables the centre and starts its thread, unless the
    // thread's semaphore is taken (it runs already). True when it started.
    bool start();
    // Enable-Message-Center and Disable-Message-Center: both empty the queues.
    void setEnabled(bool enabled);
    bool enabled() const;
    void queueAlert(const Item& item);
    void queueStatistic(const Item& item);
    std::size_t alerts() const;
    std::size_t statistics() const;

    // The clean close: the thread ends once the text it shows has been shown.
    void close();
    // Waits, without a limit, until the thread has ended (at once when it never ran).
    void waitUntilStopped();

private:
    void doMessageCenterThread();
    // Plays the queues while the centre is enabled; false once closing.
    bool playWhileEnabled();
    bool playStatistic(const Item& entry);
    bool playAlerts();
    // Clears the ticker and rests; false once closing.
    bool clearTicker();
    // The close sequence has the ticker to itself once it has begun.
    bool showUnlessClosing(const TickerText& text);
    // Sleeps for `interval` (scaled), less when closing; false when closing.
    bool rest(std::chrono::milliseconds interval);
    bool closing() const;
    std::optional<Item> takeFirst(std::deque<Item>& queue);
    void append(std::deque<Item>& queue, const Item& item, const char* name);

    const Show show_;
    mutable std::mutex lock_;
    std::condition_variable closed_;
    bool enabled_ = false;
    bool closing_ = false;
    std::deque<Item> alerts_;
    std::deque<Item> statistics_;
    Semaphore running_{1};  // taken while the thread runs
    std::thread thread_;
};
