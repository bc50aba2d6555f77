#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// Runs the work handed to it one piece at a time, in the order given, on a thread of its own
// (clicks that may wait on the network, kept off the thread that paints).
class SerialWorker {
public:
    SerialWorker() : thread_([this] { run(); }) {}
    ~SerialWorker() { stop(); }
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    void post(std::function<void()> work) {
        {
            std::lock_guard guard(lock_);
            if (stopping_) return;
            work_.push_back(std::move(work));
        }
        wake_.notify_one();
    }

    // Finishes the work already handed over, then ends the thread; later work is dropped.
    void stop() {
        {
            std::lock_guard guard(lock_);
            stopping_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    }

private:
    void run() {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock guard(lock_);
                wake_.wait(guard, [this] { return stopping_ || !work_.empty(); });
                if (work_.empty()) return;
                work = std::move(work_.front());
                work_.pop_front();
            }
            work();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> work_;
    bool stopping_ = false;
    std::thread thread_;
};
