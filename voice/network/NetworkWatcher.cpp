#include "voice/network/NetworkWatcher.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>

#include "infra/CLogger.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"
#include "voice/network/NetlinkMessages.h"

namespace {
using Clock = std::chrono::steady_clock;

// Bad messages logged per burst; a flood of them costs a few lines, not the log.
constexpr int kBadMessageLines = 10;
// A burst that never goes quiet is still reported after this many quiet periods.
constexpr int kLongestBurstPeriods = 4;
// Removed addresses remembered per burst; the phone uses only one of them.
constexpr std::size_t kRemovedAddressesKept = 64;
}  // namespace

NetworkWatcher::NetworkWatcher(Settled settled)
    : settled_(std::move(settled)), wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

NetworkWatcher::~NetworkWatcher() {
    stop();
    if (wakeFd_ >= 0) close(wakeFd_);
}

void NetworkWatcher::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

bool NetworkWatcher::start() {
    if (thread_.joinable()) return true;
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    sockaddr_nl groups{};
    groups.nl_family = AF_NETLINK;
    groups.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    if (fd_ < 0 || wakeFd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&groups), sizeof groups) != 0) {
        logMessage(LogLevel::Error, "NetworkWatcher::start(): Cannot follow address and route changes: %s",
                   std::strerror(errno));
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        return false;
    }
    logMessage(LogLevel::Debug, "NetworkWatcher::start(): Following IPv4 address and route changes");
    stopRequested_ = false;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void NetworkWatcher::stop() {
    if (!thread_.joinable()) return;
    stopRequested_ = true;
    wake();
    thread_.join();
    running_ = false;
    close(fd_);
    fd_ = -1;
}

void NetworkWatcher::requestLook() {
    lookRequested_ = true;
    wake();
}

void NetworkWatcher::run() {
    Change pending;
    bool reportDue = false;  // a burst or a look waits to be reported at `quietAt`
    Clock::time_point burstStart{}, quietAt{};
    const auto settle = Timing::scaled(intervals::kNetworkSettle);
    while (!stopRequested_) {
        const int timeout = reportDue ? static_cast<int>(std::max<std::int64_t>(
                                            0, std::chrono::ceil<std::chrono::milliseconds>(quietAt - Clock::now()).count()))
                                      : -1;
        pollfd watched[] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(watched, 2, timeout) < 0 && errno != EINTR) {
            logMessage(LogLevel::Error, "NetworkWatcher::run(): poll failed: %s", std::strerror(errno));
            running_ = false;
            return;
        }
        if (watched[1].revents) {
            std::uint64_t wakes = 0;
            [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &wakes, sizeof wakes);
        }
        const auto now = Clock::now();
        const bool wasChanged = pending.changed;
        if (readMessages(pending) && pending.changed) {
            if (!wasChanged) burstStart = now;
            quietAt = std::min(now + settle, burstStart + settle * kLongestBurstPeriods);
            reportDue = true;
        }
        if (lookRequested_.exchange(false) && !reportDue) {
            quietAt = now;
            reportDue = true;
        }
        if (!reportDue || Clock::now() < quietAt) continue;
        runGuarded("NetworkWatcher", [&] { settled_(pending); });
        pending = {};
        reportDue = false;
        badMessagesLogged_ = 0;
    }
}

bool NetworkWatcher::readMessages(Change& pending) {
    std::array<std::uint8_t, 16384> buffer;
    bool readAny = false;
    for (;;) {
        sockaddr_nl sender{};
        socklen_t length = sizeof sender;
        const ssize_t size =
            recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&sender), &length);
        if (size < 0) {
            if (errno != ENOBUFS) return readAny;
            // The kernel dropped messages it could not queue: something changed, we know not what.
            logBadMessage("NetworkWatcher: Routing messages were lost, looking at the network again");
            pending.changed = readAny = true;
            continue;
        }
        readAny = true;
        if (sender.nl_pid != 0) {
            logBadMessage("NetworkWatcher: Ignored %zd bytes from process %u, not from the kernel", size, sender.nl_pid);
            continue;
        }
        if (static_cast<std::size_t>(size) > buffer.size()) {
            logBadMessage("NetworkWatcher: A routing message of %zd bytes was cut short", size);
            pending.changed = true;
            continue;
        }
        const auto batch = netlink::parseNetlinkBatch(std::span(buffer.data(), static_cast<std::size_t>(size)));
        if (!batch.problem.empty()) {
            logBadMessage("NetworkWatcher: Ignored the rest of %zd bytes of routing messages after %d: %s", size,
                          batch.messages, batch.problem.c_str());
            pending.changed = true;  // whatever it said, the network is looked at again
        }
        pending.changed = pending.changed || batch.changed;
        for (const std::uint32_t address : batch.removedAddresses) {
            auto& removed = pending.removedAddresses;
            if (removed.size() < kRemovedAddressesKept && std::find(removed.begin(), removed.end(), address) == removed.end())
                removed.push_back(address);
        }
    }
}

void NetworkWatcher::logBadMessage(const char* format, ...) {
    if (badMessagesLogged_ > kBadMessageLines) return;
    if (++badMessagesLogged_ > kBadMessageLines) {
        logMessage(LogLevel::Warning, "NetworkWatcher: Further bad routing messages of this burst are not logged");
        return;
    }
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    logMessage(LogLevel::Warning, "%s", line);
}
