#include "lab/applet/LabAppletClient.h"

#include <poll.h>

#include <cerrno>

#include "lab/applet/LabAppletRequests.h"
#include "lab/common/LabPollTimeout.h"

namespace {

constexpr std::size_t kReceiveBufferBytes = 51200;
constexpr std::size_t kLoggedTextBytes = 300;

// Long texts (a flood) are cut in the log.
std::string shown(const std::string& text) {
    if (text.size() <= kLoggedTextBytes) return text;
    return text.substr(0, kLoggedTextBytes) + "... (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace

LabAppletClient::LabAppletClient(LabAppletOptions options, LabLog log)
    : options_(std::move(options)), log_(std::move(log)) {}

LabAppletClient::~LabAppletClient() { disconnect(); }

bool LabAppletClient::connect() {
    disconnect();
    LabSocket socket = LabSocket::connectToLoopback(options_.port);
    if (!socket.valid()) {
        log_("cannot connect to 127.0.0.1:" + std::to_string(options_.port));
        return false;
    }
    {
        std::lock_guard guard(outgoingLock_);
        outgoing_.clear();
        if (options_.greetOnConnect) outgoing_.push_back(labapplet::greeting() + "~");
    }
    sendSignal_.raise();
    stopSignal_.consume();
    setConnected(true);
    log_("connected to 127.0.0.1:" + std::to_string(options_.port));
    thread_ = std::thread(&LabAppletClient::run, this, std::move(socket));
    return true;
}

void LabAppletClient::disconnect() {
    if (!thread_.joinable()) return;
    stopSignal_.raise();
    thread_.join();
}

bool LabAppletClient::connected() const {
    std::lock_guard guard(stateLock_);
    return connected_;
}

bool LabAppletClient::waitForDisconnection(std::chrono::milliseconds timeout) const {
    std::unique_lock guard(stateLock_);
    return stateChanged_.wait_for(guard, timeout, [this] { return !connected_; });
}

void LabAppletClient::send(const std::string& message) { sendBytes(message + "~"); }

void LabAppletClient::sendBytes(const std::string& bytes) {
    if (!connected()) {
        log_("not connected, not sent: " + shown(bytes));
        return;
    }
    {
        std::lock_guard guard(outgoingLock_);
        outgoing_.push_back(bytes);
    }
    sendSignal_.raise();
}

void LabAppletClient::sendFlood(std::size_t byteCount) { sendBytes(std::string(byteCount, 'x')); }

void LabAppletClient::setSilent(bool silent) {
    silent_ = silent;
    log_(silent ? "heartbeat stopped" : "heartbeat resumed");
}

std::vector<LabReceived> LabAppletClient::replies() const { return replies_.all(); }

std::vector<std::string> LabAppletClient::replyTexts() const { return replies_.texts(); }

std::optional<std::string> LabAppletClient::waitForReply(const LabRecorder::Match& match,
                                                         std::chrono::milliseconds timeout) const {
    return replies_.waitFor(match, timeout);
}

std::optional<std::string> LabAppletClient::waitForReply(const std::string& prefix,
                                                         std::chrono::milliseconds timeout) const {
    return replies_.waitFor(prefix, timeout);
}

bool LabAppletClient::waitForReplyCount(const LabRecorder::Match& match, std::size_t count,
                                        std::chrono::milliseconds timeout) const {
    return replies_.waitForCount(match, count, timeout);
}

void LabAppletClient::clearReplies() { replies_.clear(); }

void LabAppletClient::setConnected(bool connected) {
    {
        std::lock_guard guard(stateLock_);
        connected_ = connected;
    }
    stateChanged_.notify_all();
}

// ---- the link's thread ----

void LabAppletClient::run(LabSocket socket) {
    LabFrameSplitter splitter;
    const auto interval = Timing::scaled(options_.heartbeatInterval);
    auto nextHeartbeat = Clock::now() + interval;
    while (socket.valid()) {
        pollfd waits[] = {{stopSignal_.fd(), POLLIN, 0}, {sendSignal_.fd(), POLLIN, 0}, {socket.fd(), POLLIN, 0}};
        if (::poll(waits, 3, pollTimeoutMs(nextHeartbeat)) < 0 && errno != EINTR) break;
        if (waits[0].revents) break;
        if (waits[2].revents) readReplies(socket, splitter);
        if (waits[1].revents) sendQueued(socket);
        if (Clock::now() >= nextHeartbeat) {
            nextHeartbeat = Clock::now() + interval;
            if (!silent_ && socket.valid()) sendNow(socket, labapplet::heartbeat() + "~");
        }
    }
    socket.close();
    setConnected(false);
    log_("disconnected");
}

void LabAppletClient::readReplies(LabSocket& socket, LabFrameSplitter& splitter) {
    char buffer[kReceiveBufferBytes];
    const ssize_t received = socket.receive(buffer, sizeof buffer);
    if (received <= 0) {
        log_(received == 0 ? "the phone closed the link" : "receive failed");
        socket.close();
        return;
    }
    auto frames = splitter.add({buffer, static_cast<std::size_t>(received)});
    if (frames.discardedBytes)
        log_("no \"~\" in " + std::to_string(frames.discardedBytes) + " bytes from the phone: discarded");
    for (std::string& reply : frames.messages) {
        log_("<< " + shown(reply));
        replies_.add(std::move(reply));
    }
}

void LabAppletClient::sendQueued(LabSocket& socket) {
    sendSignal_.consume();
    std::vector<std::string> outgoing;
    {
        std::lock_guard guard(outgoingLock_);
        outgoing.swap(outgoing_);
    }
    for (const std::string& bytes : outgoing)
        if (socket.valid()) sendNow(socket, bytes);
}

void LabAppletClient::sendNow(LabSocket& socket, const std::string& bytes) {
    if (!socket.sendAll(bytes, stopSignal_.fd())) {
        log_("send failed");
        socket.close();
        return;
    }
    log_(">> " + shown(bytes));
}
