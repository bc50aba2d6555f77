#include "desktop/ClientListener.h"

#include <cerrno>
#include <chrono>
#include <cstdint>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "call/Call.h"
#include "wire/FrameAssembler.h"
#include "wire/KVSet.h"
#include "wire/LoggedText.h"
#include "infra/CLogger.h"
#include "infra/LeadingInt.h"
#include "infra/SocketErrorText.h"
#include "infra/StoppablePause.h"
#include "infra/ThreadGroup.h"
#include "infra/Timing.h"

namespace {

constexpr std::size_t kReceiveBuffer = 51200;
constexpr std::size_t kNumberLength = Call::kDialDestinationLength;  // longer numbers are refused

int milliseconds(std::chrono::microseconds interval) {
    return static_cast<int>(std::max<long long>(1, Timing::scaled(interval).count() / 1000));
}

enum class Wait { Readable, TimedOut, Stopped, Contended };

// Waits for `socket` to be readable, for the time-out (in milliseconds, -1 for none), for
// stop()'s wake-up, or, when `listening` is a socket, for another client to wait there.
Wait waitReadable(int socket, int wake, int timeout, int listening = -1) {
    pollfd entries[] = {{socket, POLLIN, 0}, {wake, POLLIN, 0}, {listening, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(entries, 3, timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || entries[1].revents) return Wait::Stopped;
        if (ready == 0) return Wait::TimedOut;
        return entries[0].revents ? Wait::Readable : Wait::Contended;
    }
}

// The client's own track number as a reply echoes it: "0" when it gave none.
std::string echoedTrackNumber(const KVSet& request) {
    const std::string trackNumber = request.getValue("Tracknumber");
    return trackNumber.empty() ? "0" : trackNumber;
}

}  // namespace

ClientListener::ClientListener(Agent& agent, int port)
    : agent_(agent), port_(port), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ClientListener::~ClientListener() {
    std::lock_guard lifecycle(lifecycleLock_);
    stopLocked();
    if (listenerThread_.joinable()) listenerThread_.join();  // one still busy after stop()'s wait
    if (wake_ >= 0) ::close(wake_);
}

void ClientListener::start() {
    std::lock_guard lifecycle(lifecycleLock_);
    stopLocked();
    if (listenerThread_.joinable()) listenerThread_.join();
    std::uint64_t drained = 0;
    [[maybe_unused]] const ssize_t read = ::read(wake_, &drained, sizeof drained);
    clientConnected_ = false;
    stopListening_ = false;
    {
        std::lock_guard guard(socketLock_);  // senders may be pausing on the previous one
        stopping_ = std::stop_source();
    }
    boundPort_ = 0;  // known again once the new listening socket is bound
    {
        std::lock_guard guard(endedLock_);
        listenerEnded_ = false;
    }
    listenerThread_ = std::thread([this] {
        runGuarded("clientListener", [this] { clientListener(); });
        {
            std::lock_guard guard(endedLock_);
            listenerEnded_ = true;
        }
        endedChanged_.notify_all();
    });
}

void ClientListener::stop() {
    std::lock_guard lifecycle(lifecycleLock_);
    stopLocked();
}

void ClientListener::stopLocked() {
    stopListening_ = true;
    clientConnected_ = false;
    {
        std::lock_guard guard(socketLock_);
        stopping_.request_stop();
        if (clientSocket_ >= 0) ::shutdown(clientSocket_, SHUT_RDWR);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }
    if (!listenerThread_.joinable() || listenerThread_.get_id() == std::this_thread::get_id()) return;
    if (!joinListener(Timing::scaled(intervals::kClientStopWait)))
        logMessage(LogLevel::Warning, "ClientListener::stop - the listening thread is still busy, it is joined later");
}

bool ClientListener::joinListener(std::chrono::microseconds patience) {
    {
        std::unique_lock guard(endedLock_);
        if (!endedChanged_.wait_for(guard, patience, [this] { return listenerEnded_; })) return false;
    }
    listenerThread_.join();
    return true;
}

void ClientListener::clientListener() {
    logMessage(LogLevel::Debug, "ClientListener::clientListener - Starting...");
    const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening < 0) {
        logMessage(LogLevel::Error, "Socket error: %s", socketErrorText().c_str());
        return;
    }
    const int reuse = 1;
    ::setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        logMessage(LogLevel::Error, "ClientListener::clientListener - Bind socket failed. Error:[%d]",
                   socketErrorCode(error));
        logMessage(LogLevel::Error, "Network Error[%s]", socketErrorText(error).c_str());
        ::close(listening);
        return;
    }
    if (::listen(listening, 1) != 0) {
        logMessage(LogLevel::Error, "ClientListener::clientListener - Listen on socket failed. Error[%s]",
                   socketErrorText().c_str());
        ::close(listening);
        return;
    }
    socklen_t length = sizeof address;
    ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort_ = ntohs(address.sin_port);
    {
        std::lock_guard guard(socketLock_);
        listenSocket_ = listening;
    }
    logMessage(LogLevel::Normal, "ClientListener::clientListener - Ready to accept clients.");

    while (!stopListening_) {
        if (waitReadable(listening, wake_, -1) != Wait::Readable || stopListening_) break;

        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        int client = -1;
        do {
            client = ::accept4(listening, reinterpret_cast<sockaddr*>(&peer), &peerLength, SOCK_CLOEXEC);
            logMessage(LogLevel::Debug, "ClientListener::clientListener - ClientSocket. Result:[%d]", client);
        } while (client < 0 && errno == EINTR && !stopListening_);
        if (client < 0) {
            logMessage(LogLevel::Error, "ClientListener::clientListener - Accept socket failed. Error:[%d]",
                       socketErrorCode(errno));
            continue;
        }
        char ip[INET_ADDRSTRLEN] = "";
        ::inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
        logMessage(LogLevel::Debug, "ClientListener::clientListener - New client ip[%s].", ip);
        if (std::string(ip) != "127.0.0.1") {
            logMessage(LogLevel::Debug, "ClientListener::clientListener - We don't accept connection from outside");
            ::close(client);
            continue;
        }
        {
            std::lock_guard guard(socketLock_);
            clientSocket_ = client;
            clientConnected_ = true;
        }
        clientHandler(client, listening);
        closeClient();
    }

    logMessage(LogLevel::Debug, "ClientListener::clientListener - before close socket");
    closeClient();
    logMessage(LogLevel::Debug, "ClientListener::clientListener - after close socket");
    logMessage(LogLevel::Debug, "ClientListener::clientListener - Stop Listening for new clients.");
    {
        std::lock_guard guard(socketLock_);
        listenSocket_ = -1;
    }
    ::close(listening);
}

void ClientListener::closeClient() {
    std::lock_guard guard(socketLock_);
    clientConnected_ = false;
    if (clientSocket_ < 0) return;
    ::close(clientSocket_);
    clientSocket_ = -1;
}

// Messages that arrived together are handled one at a time, in order, without another read.
// What one read brings is logged once.
void ClientListener::clientHandler(int socket, int listening) {
    logMessage(LogLevel::Debug, "ClientListener::clientHandler - Starting...");
    FrameAssembler frames;
    std::string buffer(kReceiveBuffer, '\0');
    bool greeted = false;  // a first message has come
    const auto greetingDeadline = std::chrono::steady_clock::now() + Timing::scaled(intervals::kClientGreeting);
    while (clientConnected_ && !stopListening_) {
        if (frames.hasMessage()) {
            greeted = true;
            const std::string message = frames.nextMessage();
            runGuarded("clientListener", [&] { processInfo(message); });
            continue;
        }
        // Until the greeting time is over, wait for it; after that a client that has not
        // greeted gives way to the next one that connects.
        const auto untilGreeting = std::chrono::duration_cast<std::chrono::milliseconds>(
            greetingDeadline - std::chrono::steady_clock::now());
        const bool greetingDue = !greeted && untilGreeting.count() > 0;
        const int timeout = greetingDue ? static_cast<int>(untilGreeting.count()) : milliseconds(intervals::kClientSilence);
        const Wait wait = waitReadable(socket, wake_, timeout, greeted || greetingDue ? -1 : listening);
        if (wait == Wait::Stopped) {
            clientConnected_ = false;
            break;
        }
        if (wait == Wait::Contended) {
            logMessage(LogLevel::Warning, "ClientListener::clientHandler - No greeting received from Client...dropping it");
            clientConnected_ = false;
            break;
        }
        if (wait == Wait::TimedOut && greetingDue) continue;
        if (wait == Wait::TimedOut) {
            logMessage(LogLevel::Warning,
                       "ClientListener::clientHandler - No Heartbeat received from Client...assuming that client "
                       "is dead");
            clientConnected_ = false;
            logMessage(LogLevel::Debug, "ClientListener::clientHandler - (iRet = 0 on select)");
            break;
        }
        const ssize_t received = ::recv(socket, buffer.data(), buffer.size(), 0);
        if (received < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (received <= 0) {
            if (received == 0) errno = ECONNRESET;  // the client closed the connection
            logMessage(LogLevel::Error, "ClientListener::clientHandler - Error on recv() [%s]", socketErrorText().c_str());
            logMessage(LogLevel::Debug, "ClientListener::clientHandler - Socket used: [%d]", socket);
            clientConnected_ = false;
            break;
        }
        const std::string_view bytes(buffer.data(), static_cast<std::size_t>(received));
        logMessage(LogLevel::Debug, "Received %d bytes from Client - [%s]", static_cast<int>(received),
                   loggedText(bytes).c_str());
        if (!frames.append(bytes.data(), bytes.size())) {
            logMessage(LogLevel::Error,
                       "ClientListener::clientHandler - More than %d bytes without '~' from the client, dropping it",
                       static_cast<int>(FrameAssembler::kDefaultLimit));
            clientConnected_ = false;
            break;
        }
    }
    logMessage(LogLevel::Debug, "Exiting from client's thread");
}

void ClientListener::sendInfo(const std::string& message) {
    const std::string frame = message + FrameAssembler::kTerminator;
    std::lock_guard guard(socketLock_);
    if (!clientConnected_ || clientSocket_ < 0) return;
    std::size_t sent = 0;
    for (int blocked = 0; sent < frame.size();) {
        const ssize_t result =
            ::send(clientSocket_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (++blocked >= intervals::kCtiSendRetries) {
                logMessage(LogLevel::Warning, "ClientListener::sendInfo - ((iRet == -1) && (errno == EAGAIN))");
                ::shutdown(clientSocket_, SHUT_RDWR);  // the listening thread closes it
                return;
            }
            if (!pauseUnlessStopped(stopping_.get_token(), intervals::kCtiSendRetryPause)) return;
            continue;
        }
        if (result < 0) {
            const int error = errno;
            logMessage(LogLevel::Error, "ClientListener::sendInfo(): Failed to send on socket. Error [%d].",
                       socketErrorCode(error));
            logMessage(LogLevel::Debug, "Network error [%s]", socketErrorText(error).c_str());
            return;
        }
        blocked = 0;
        sent += static_cast<std::size_t>(result);
        if (sent < frame.size())
            logMessage(LogLevel::Debug,
                       "ClientListener::sendInfo() - Desired bytes to send [%d] is different than bytes sent [%d]",
                       static_cast<int>(frame.size()), static_cast<int>(result));
    }
    logMessage(LogLevel::Debug, "Sent %d bytes to Client - [%s]", static_cast<int>(frame.size()), frame.c_str());
}

void ClientListener::processInfo(const std::string& message) {
    if (message == "0,orvaneApplet" || leadingInt(message) == 58) {
        sendInfo("58");
        return;
    }
    KVSet request;
    if (!request.parse(message)) {
        logMessage(LogLevel::Error, "ClientListener::processInfo() - Invalid XML message received[%s]", message.c_str());
        return;
    }
    const std::string& type = request.getName();
    if (type == "RM_MSG_TYPE_FORCE_READY")
        answer(agent_.forceReady());
    else if (type == "RM_MSG_TYPE_UNCONDITIONNAL_READY")
        agent_.unconditionalReady(stopping_.get_token());
    else if (type == "RM_MSG_TYPE_DIAL")
        handleOutsideDial(request);
    else if (type == "RM_MSG_TYPE_TITLE_CHANGE")
        handleTitleChange(request);
    else if (type == "RM_MSG_TYPE_FORCE_HANGUP")
        answer(agent_.forceHangup(stopping_.get_token()));
}

void ClientListener::answer(const std::string& message) {
    if (!message.empty()) sendInfo(message);
}

void ClientListener::handleOutsideDial(const KVSet& request) {
    logMessage(LogLevel::Debug, "Received the request to make a Dial by the client socket");
    const std::string number = request.getValue("Number");
    if (number.empty()) {
        logMessage(LogLevel::Warning, "handleOutsideDial : No Number received");
        return;
    }
    if (number.size() > kNumberLength) {
        logMessage(LogLevel::Warning, "handleOutsideDial : Number too long [%d characters]",
                   static_cast<int>(number.size()));
        sendInfo("1," + number.substr(0, kNumberLength) + "^" + echoedTrackNumber(request) + "^FAILED");
        return;
    }
    if (!agent_.remoteDial(number, request.getValue("TrackNumber"), stopping_.get_token()))
        sendInfo("1," + number + "^" + echoedTrackNumber(request) + "^WRONG_STATE");
}

void ClientListener::handleTitleChange(const KVSet& request) {
    const std::string title = request.getValue("Title");
    if (title.empty()) {
        logMessage(LogLevel::Warning, "handleTitleChange : No URL received");
        return;
    }
    logMessage(LogLevel::Debug, "BrowserHandler::OnTitleChange(): Title: [%s].", title.c_str());
    agent_.screenPopTitleChanged(title);
}
