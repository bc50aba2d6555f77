#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "infra/CLogger.h"

// Runs `body`; an exception that escapes it is logged with the thread's name instead of
// ending the program. True when the body returned normally.
template <class Body>
bool runGuarded(const char* threadName, Body&& body) {
    try {
        body();
        return true;
    } catch (const std::exception& error) {
        logMessage(LogLevel::Error, "Unhandled exception in %s: %s", threadName, error.what());
    } catch (...) {
        logMessage(LogLevel::Error, "Unhandled exception in %s: %s", threadName, "unknown exception");
    }
    return false;
}

// Owns short-lived worker threads (a hang-up, a line selection, a logout): each runs one
// function and ends. Finished threads are joined as new ones start; join() waits for all.
class ThreadGroup {
public:
    ThreadGroup() = default;
    ~ThreadGroup() { join(); }
    ThreadGroup(const ThreadGroup&) = delete;
    ThreadGroup& operator=(const ThreadGroup&) = delete;

    void start(std::function<void()> work) { start("worker thread", std::move(work)); }
    // `name` (a literal) names the worker in the log line of an exception that escapes `work`.
    void start(const char* name, std::function<void()> work) {
        std::lock_guard guard(lock_);
        reapFinished();
        auto worker = std::make_unique<Worker>();
        Worker* self = worker.get();
        worker->thread = std::thread([self, name, work = std::move(work)] {
            runGuarded(name, work);
            self->finished = true;
        });
        workers_.push_back(std::move(worker));
    }

    // Waits for every thread started so far, including threads they start meanwhile.
    void join() {
        for (;;) {
            std::list<std::unique_ptr<Worker>> running;
            {
                std::lock_guard guard(lock_);
                running.swap(workers_);
            }
            if (running.empty()) return;
            for (auto& worker : running) worker->thread.join();
        }
    }

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void reapFinished() {
        for (auto it = workers_.begin(); it != workers_.end();) {
            if ((*it)->finished) {
                (*it)->thread.join();
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex lock_;
    std::list<std::unique_ptr<Worker>> workers_;
};
