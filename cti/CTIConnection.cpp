#include "cti/CTIConnection.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "AgentVocabulary.h"
#include "cti/CtiAgent.h"
#include "cti/InboundMessages.h"
#include "wire/LoggedText.h"
#include "infra/CLogger.h"
#include "infra/LeadingInt.h"
#include "infra/SocketErrorText.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"

namespace {

constexpr std::size_t kReceiveBuffer = 51200;
constexpr int kHeartbeatAnswer = 58;

void pause(std::chrono::microseconds interval) { std::this_thread::sleep_for(Timing::scaled(interval)); }

// Waits for a non-blocking connect to finish, giving up early when `stop` is set.
bool waitForConnect(int fd, const std::atomic<bool>& stop) {
    const auto deadline = std::chrono::steady_clock::now() + Timing::scaled(intervals::kCtiConnectTimeout);
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        pollfd entry{fd, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, 50);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        errno = error;
        return error == 0;
    }
    errno = ETIMEDOUT;
    return false;
}

}  // namespace

CTIConnection::CTIConnection(const CtiAgent& agent, InboundMessages& inbound) : agent_(agent), inbound_(inbound) {}

CTIConnection::~CTIConnection() { shutdown(); }

void CTIConnection::shutdown() {
    stopConnecting_ = true;
    close();
    std::thread connecting;
    {
        std::lock_guard guard(threadsLock_);
        connecting = std::move(connectThread_);
    }
    if (connecting.joinable()) connecting.join();
    joinReceiver();
}

void CTIConnection::setLogin(const std::string& host, int port, const std::string& agentId,
                             const std::string& password) {
    host_.set(host);
    port_ = port;
    agentId_.set(agentId);
    password_.set(password);
}

void CTIConnection::connect() {
    std::lock_guard connecting(connectLock_);
    stopConnecting_ = true;
    closing_ = false;
    if (host_.get().empty() || port_ == 0) {
        logMessage(LogLevel::Warning, "No host or port specified... can't connect to CTI");
        return;
    }
    logMessage(LogLevel::Debug, "Connecting to CTI host[%s], port[%d]", host_.get().c_str(), port_.load());
    close();  // one link at a time
    std::thread previous;
    {
        std::lock_guard guard(threadsLock_);
        previous = std::move(connectThread_);
    }
    if (previous.joinable()) {
        if (connecting_) {
            closeSocket();
            stopConnecting_ = true;
        }
        previous.join();
    }
    closing_ = false;
    connecting_ = true;
    std::lock_guard guard(threadsLock_);
    connectThread_ = std::thread([this] { connectThread(); });
}

void CTIConnection::connectThread() {
    runGuarded("connectThread", [this] { connectAndLogIn(); });
    connecting_ = false;
}

void CTIConnection::connectAndLogIn() {
    connecting_ = true;
    stopConnecting_ = false;
    joinReceiver();
    for (int attempt = 0; attempt < intervals::kCtiConnectAttempts && !connected_ && !stopConnecting_; ++attempt) {
        connected_ = openSocket();
        if (connected_) break;
        logMessage(LogLevel::Warning, "Can't connect to VelmoraCCS");
        agent_.screen.showTicker(TickerText::alert("Can't connect to VelmoraCCS !"));
        logMessage(LogLevel::Debug, "Trying again to connect to VelmoraCCS in 2s");
        pause(intervals::kCtiConnectRetryPause);
    }
    if (connected_) {
        logMessage(LogLevel::Debug, "Got connection to VelmoraCCS, starting thread to receive messages from CTI");
        int socket = -1;
        {
            std::lock_guard guard(socketLock_);
            socket = socket_;
        }
        {
            std::lock_guard guard(threadsLock_);
            receiverThread_ = std::thread([this, socket] { ctiServerReceiver(socket); });
        }
        pause(intervals::kCtiHelloPause);
        const std::string hello = "0,orvane^NULL^" + host_.get() + "^" + agentId_.get() + "^";
        sendInfo(hello + password_.get(), hello + "****");
        agent_.control.QueuePhoneEvent(agent::ConnectedEvent);
        agent_.control.SendLoginToCti();
    } else if (!stopConnecting_) {
        logMessage(LogLevel::Warning, "VelmoraCCS Server unavailable, tried %d times", intervals::kCtiConnectAttempts);
        agent_.screen.showTicker(TickerText::loginFailure("VelmoraCCS unavailable, try again later"));
    }
}

bool CTIConnection::openSocket() {
    logMessage(LogLevel::Debug, "CTIConnection::openSocket()");
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        logMessage(LogLevel::Error, "Socket error: %s", socketErrorText().c_str());
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_.load()));
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string host = host_.get();
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found) {
        address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    } else {
        address.sin_addr.s_addr = INADDR_NONE;  // neither a known name nor a dotted address
    }
    const int result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (result != 0 && !(errno == EINPROGRESS && waitForConnect(fd, stopConnecting_))) {
        logMessage(LogLevel::Error, "Network Connection Error: %s", socketErrorText().c_str());
        ::close(fd);
        return false;
    }
    std::lock_guard guard(socketLock_);
    socket_ = fd;
    heartBeatTimeOutCounter_ = 0;
    return true;
}

void CTIConnection::closeSocket() {
    std::lock_guard guard(socketLock_);
    if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);  // wakes the receiver, which closes it
    socket_ = -1;
    connected_ = false;
}

void CTIConnection::close() {
    if (!connected_) return;
    closing_ = true;
    closeSocket();
    connected_ = false;
}

void CTIConnection::joinReceiver() {
    std::thread previous;
    {
        std::lock_guard guard(threadsLock_);
        previous = std::move(receiverThread_);
    }
    if (previous.joinable()) previous.join();
}

bool CTIConnection::sendInfo(const std::string& message, const std::string& logText) {
    const std::string& shown = logText.empty() ? message : logText;
    if (!connected_) {
        logMessage(LogLevel::Warning, "CTIConnection::sendInfo - Not connected, can't send message[%s]", shown.c_str());
        return false;
    }
    const std::string frame = message + FrameAssembler::kTerminator;
    const std::string shownFrame = shown + FrameAssembler::kTerminator;
    bool failed = false;
    {
        std::lock_guard guard(socketLock_);
        std::size_t sent = 0;
        for (int blocked = 0; sent < frame.size();) {
            if (socket_ < 0) {
                logMessage(LogLevel::Warning, "CTIConnection::sendInfo - Not connected, can't send message[%s]",
                           shown.c_str());
                return false;
            }
            const ssize_t result =
                ::send(socket_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (++blocked >= intervals::kCtiSendRetries) {
                    logMessage(LogLevel::Warning, "CTIConnection::sendInfo(): ((iRet == -1) && (errno == EAGAIN))");
                    failed = true;
                    break;
                }
                pause(intervals::kCtiSendRetryPause);
                continue;
            }
            if (result < 0) {
                const int error = errno;
                logMessage(LogLevel::Error, "CTIConnection::sendInfo(): Failed to send on socket. Error [%d].",
                           socketErrorCode(error));
                logMessage(LogLevel::Debug, "Network error [%s]", socketErrorText(error).c_str());
                failed = true;
                break;
            }
            blocked = 0;
            sent += static_cast<std::size_t>(result);
            if (sent < frame.size())
                logMessage(LogLevel::Debug, "Desired bytes to send [%d] is different than bytes sent [%d] - [%s]",
                           static_cast<int>(frame.size()), static_cast<int>(result), shownFrame.c_str());
            else
                logMessage(LogLevel::Debug, "Sent %d bytes to CTI - [%s]", static_cast<int>(frame.size()),
                           shownFrame.c_str());
        }
    }
    if (failed) close();
    return !failed;
}

void CTIConnection::processInfo(const std::string& message) {
    if (leadingInt(message) == kHeartbeatAnswer) {
        heartBeatTimeOutCounter_ = 0;
        return;
    }
    inbound_.handle(message, *this);
}

bool CTIConnection::heartBeatSender() {
    int socket = -1;
    {
        std::lock_guard guard(socketLock_);
        socket = socket_;
    }
    for (;;) {
        pollfd entry{socket, POLLIN, 0};
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(
            Timing::scaled(intervals::kCtiHeartbeatIdle));
        const int ready = socket < 0 ? -1 : ::poll(&entry, 1, static_cast<int>(std::max<long long>(1, idle.count())));
        if (ready < 0 && errno == EINTR) continue;
        const bool silent = heartBeatTimeOutCounter_ >= intervals::kCtiHeartbeatMisses;
        if (!closing_ && (ready < 0 || silent)) {
            if (silent)
                logMessage(LogLevel::Error, "Unable to communicate with the CTI Server");
            else
                logMessage(LogLevel::Error, "Error on select [%s]", socketErrorText().c_str());
            logMessage(LogLevel::Error, "Closing socket with CTI Server");
            close();
            heartBeatTimeOutCounter_ = 0;
            pause(intervals::kCtiReceivePause);
            return false;
        }
        if (ready != 0) return true;
        if (heartBeatTimeOutCounter_ > 0)
            logMessage(LogLevel::Warning, "heartBeatSender select() timeout. heartBeatTimeOutCounter:[%d].",
                       heartBeatTimeOutCounter_.load());
        sendInfo("58");
        ++heartBeatTimeOutCounter_;
    }
}

void CTIConnection::linkLost() {
    close();
    agent_.control.doUnconditionalAgentLogout(false);
    agent_.screen.showTicker(TickerText::alert("Communication Error!! Please try again"));
}

void CTIConnection::ctiServerReceiver(int socket) {
    runGuarded("ctiServerReceiver", [&] { receiveMessages(socket); });
    std::lock_guard guard(socketLock_);
    if (socket_ == socket) socket_ = -1;
    ::close(socket);
}

// Messages that arrived together are handled one at a time, in order, without another read.
// What one read brings is logged once.
void CTIConnection::receiveMessages(int socket) {
    FrameAssembler frames;
    std::string buffer(kReceiveBuffer, '\0');
    while (!closing_ && connected_) {
        if (frames.hasMessage()) {
            const std::string message = frames.nextMessage();
            runGuarded("ctiServerReceiver", [&] { processInfo(message); });
            continue;
        }
        if (!heartBeatSender()) {
            linkLost();
            return;
        }
        const ssize_t received = ::recv(socket, buffer.data(), buffer.size(), 0);
        if (received < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (received <= 0) {
            if (received == 0) errno = ECONNRESET;  // the server closed the link
            if (!closing_) {
                logMessage(LogLevel::Error, "CTIConnection::ctiServerReceiver(). Error on recv() [%s]",
                           socketErrorText().c_str());
                linkLost();
            }
            return;
        }
        const std::string_view bytes(buffer.data(), static_cast<std::size_t>(received));
        logMessage(LogLevel::Debug, "Received %d bytes from CTI - [%s]", static_cast<int>(received),
                   loggedText(bytes).c_str());
        if (!frames.append(bytes.data(), bytes.size())) {
            logMessage(LogLevel::Error,
                       "CTIConnection::ctiServerReceiver(). More than %d bytes without '~' from CTI, closing",
                       static_cast<int>(FrameAssembler::kDefaultLimit));
            linkLost();
            return;
        }
        pause(intervals::kCtiReceivePause);
    }
}
