#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>

// What the kernel counted for one thread: voluntary context switches (each one a sleep, so a
// wake-up) and the time it ran.
struct ThreadUsage {
    long wakeups = 0;
    long long runNs = 0;
};

// Every thread of this process, by thread id.
inline std::map<int, ThreadUsage> threadUsage() {
    std::map<int, ThreadUsage> usage;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        ThreadUsage thread;
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) thread.wakeups = std::stol(line.substr(24));
        std::ifstream(task.path() / "schedstat") >> thread.runNs;
        usage[std::stoi(task.path().filename().string())] = thread;
    }
    return usage;
}

// What the threads that are not in `excluded` cost while the caller sleeps for `idle`.
struct IdleCost {
    double wakeupsPerSecond = 0;
    double cpuPercent = 0;  // of one core
    std::size_t threads = 0;
};

inline IdleCost idleCost(const std::set<int>& excluded, std::chrono::milliseconds idle) {
    const auto measured = [&excluded] {
        std::map<int, ThreadUsage> usage = threadUsage();
        std::erase_if(usage, [&excluded](const auto& entry) { return excluded.count(entry.first) > 0; });
        return usage;
    };
    const auto start = measured();
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(idle);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    IdleCost cost;
    cost.threads = start.size();
    for (const auto& [tid, end] : measured()) {
        const auto found = start.find(tid);
        const ThreadUsage begin = found == start.end() ? ThreadUsage{} : found->second;
        cost.wakeupsPerSecond += static_cast<double>(end.wakeups - begin.wakeups) / seconds;
        cost.cpuPercent += static_cast<double>(end.runNs - begin.runNs) / 1e9 / seconds * 100;
    }
    return cost;
}

// The threads running now, to be left out of a later measurement.
inline std::set<int> runningThreads() {
    std::set<int> threads;
    for (const auto& [tid, usage] : threadUsage()) threads.insert(tid);
    return threads;
}
