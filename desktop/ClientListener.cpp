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

#include "AgentVocabulary.h"
#include "core/AgentStatus.h"
#include "core/CallContext.h"
#include "cti/FrameAssembler.h"
#include "cti/KVSet.h"
#include "desktop/ScreenPopTitle.h"
#include "infra/CLogger.h"
#include "infra/LeadingInt.h"
#include "infra/SocketErrorText.h"
#include "infra/Timing.h"

namespace {

constexpr std::size_t kReceiveBuffer = 51200;
constexpr std::size_t kNumberLength = 100;  // longer numbers are refused
constexpr std::size_t kDialledNumberLength = 20;

void pause(std::chrono::microseconds interval) { std::this_thread::sleep_for(Timing::scaled(interval)); }

int milliseconds(std::chrono::microseconds interval) {
    return static_cast<int>(std::max<long long>(1, Timing::scaled(interval).count() / 1000));
}

enum class Wait { Readable, TimedOut, Stopped };

// Waits for `socket` to be readable, for the time-out, or for stop()'s wake-up.
Wait waitReadable(int socket, int wake, std::chrono::microseconds timeout) {
    pollfd entries[] = {{socket, POLLIN, 0}, {wake, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(entries, 2, milliseconds(timeout));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || entries[1].revents) return Wait::Stopped;
        return ready == 0 ? Wait::TimedOut : Wait::Readable;
    }
}

}  // namespace

ClientListener::ClientListener(Agent& agent, AgentStatus& status, CallContext& call, int port)
    : agent_(agent), status_(status), call_(call), port_(port), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ClientListener::~ClientListener() {
    stop();
    if (wake_ >= 0) ::close(wake_);
}

void ClientListener::start() {
    stop();
    std::uint64_t drained = 0;
    [[maybe_unused]] const ssize_t read = ::read(wake_, &drained, sizeof drained);
    clientConnected_ = false;
    stopListening_ = false;
    listenerThread_ = std::thread([this] { clientListener(); });
}

void ClientListener::stop() {
    stopListening_ = true;
    clientConnected_ = false;
    {
        std::lock_guard guard(socketLock_);
        if (clientSocket_ >= 0) ::shutdown(clientSocket_, SHUT_RDWR);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }
    if (listenerThread_.joinable()) listenerThread_.join();
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
        Wait wait = Wait::TimedOut;
        while (wait == Wait::TimedOut && !stopListening_)
            wait = waitReadable(listening, wake_, intervals::kClientConnectionWait);
        if (wait != Wait::Readable || stopListening_) break;

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
        clientHandler(client);
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

void ClientListener::clientHandler(int socket) {
    logMessage(LogLevel::Debug, "ClientListener::clientHandler - Starting...");
    FrameAssembler frames;
    std::string buffer(kReceiveBuffer, '\0');
    while (clientConnected_ && !stopListening_) {
        std::string passText = frames.pending();
        bool complete = frames.hasMessage();
        while (!complete && clientConnected_ && !stopListening_) {
            const Wait wait = waitReadable(socket, wake_, intervals::kClientSilence);
            if (wait == Wait::Stopped) {
                clientConnected_ = false;
                break;
            }
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
                logMessage(LogLevel::Error, "ClientListener::clientHandler - Error on recv() [%s]",
                           socketErrorText().c_str());
                logMessage(LogLevel::Debug, "ClientListener::clientHandler - Socket used: [%d]", socket);
                clientConnected_ = false;
                break;
            }
            if (!frames.append(buffer.data(), static_cast<std::size_t>(received))) {
                logMessage(LogLevel::Error,
                           "ClientListener::clientHandler - More than %d bytes without '~' from the client, dropping it",
                           static_cast<int>(FrameAssembler::kDefaultLimit));
                clientConnected_ = false;
                break;
            }
            passText.append(buffer.data(), static_cast<std::size_t>(received));
            complete = frames.hasMessage();
            pause(intervals::kCtiReceivePause);
        }
        if (!complete) continue;
        logMessage(LogLevel::Debug, "Received %d bytes from Client - [%s]", static_cast<int>(passText.size()),
                   passText.c_str());
        processInfo(frames.nextMessage());
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
            pause(intervals::kCtiSendRetryPause);
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
        handleForceReady();
    else if (type == "RM_MSG_TYPE_UNCONDITIONNAL_READY")
        handleUnconditionalReady();
    else if (type == "RM_MSG_TYPE_DIAL")
        handleOutsideDial(request);
    else if (type == "RM_MSG_TYPE_TITLE_CHANGE")
        handleTitleChange(request);
    else if (type == "RM_MSG_TYPE_FORCE_HANGUP")
        handleForceHangup();
}

void ClientListener::handleForceReady() {
    const std::string state = status_.agentState();
    if (agent_.dialWindowOpen()) {
        sendInfo("3,Wrong state... agent is dialing");
    } else if (state != "AgentNotReady") {
        sendInfo("3,Wrong state... agent state = " + state);
    } else {
        agent_.clickReady();
        sendInfo("3,Force Ready done!");
    }
}

void ClientListener::handleUnconditionalReady() {
    const std::string state = status_.agentState();
    if (agent_.callTimerRunning() && state == "AgentNotReady") {
        agent_.doAgentReady();
    } else if (state == "AgentReadyInCall" || state == "AgentReadyInConference") {
        agent_.QueuePhoneEvent(agent::HangUpEvent);
        status_.inCall = false;
        pause(intervals::kClientAnswerPause);
        agent_.doAgentReady();
    }
}

void ClientListener::handleForceHangup() {
    logMessage(LogLevel::Debug, "Received the request to force agent hangup");
    if (!status_.inCall) {
        logMessage(LogLevel::Debug, "Wrong state to force agent hangup");
        sendInfo("10,Wrong state... agent state = " + status_.agentState());
        return;
    }
    agent_.SendAgentHangUpToCti();
    agent_.QueuePhoneEvent(agent::HangUpEvent);
    status_.inCall = false;
    pause(intervals::kClientAnswerPause);
    logMessage(LogLevel::Debug, "force agent hangup");
    sendInfo("10,Force hang up done ");
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
        return;
    }
    const std::string text = "Remote dial [" + number + "]";
    logMessage(LogLevel::Debug, "%s", text.c_str());
    agent_.showTicker({text, 0x0000FF, 0x000000, 0, 3});

    const std::string state = status_.agentState();
    int callNo = 0;
    const char* block = nullptr;
    if (state == "AgentNotReady") {
        callNo = 0;
        block = "%s - sleeping for tracknum block AgentNotReady";
    } else if (state == "AgentReady") {
        callNo = 1;
        block = "%s - sleeping for tracknum block AgentReady";
    } else {
        agent_.showTicker(TickerText::alert("Must be in [Not Ready] or [Ready] mode to receive event"));
        const std::string trackNumber = request.getValue("Tracknumber");
        sendInfo("1," + number + "^" + (trackNumber.empty() ? "0" : trackNumber) + "^WRONG_STATE");
        return;
    }

    call_.dialDestination.set(number.substr(0, kNumberLength));
    call_.dialledNumber.set(number.substr(0, kDialledNumberLength));
    agent_.selectIaxLine(callNo);
    call_.remoteDial = true;
    agent_.SendAgentPersonnalDialToCti();
    agent_.CloseDialWindow();
    for (int wait = 0; wait < intervals::kRemoteDialTrackNumberWaits && agent_.getVelmoraTrackNum(callNo).empty();
         ++wait) {
        logMessage(LogLevel::Debug, block, "ClientListener::handleOutsideDial");
        pause(intervals::kRemoteDialTrackNumberWait);
    }
    agent_.SendAgentReallyDialingToCti();
    agent_.QueuePhoneEvent(agent::DialingEvent);
    call_.ani.set(number);
    agent_.dial(call_.callPrefix.get() + number, request.getValue("TrackNumber"));
}

void ClientListener::handleTitleChange(const KVSet& request) {
    const std::string title = request.getValue("Title");
    if (title.empty()) {
        logMessage(LogLevel::Warning, "handleTitleChange : No URL received");
        return;
    }
    logMessage(LogLevel::Debug, "BrowserHandler::OnTitleChange(): Title: [%s].", title.c_str());
    const ScreenPopTitle report = ScreenPopTitle::read(title);
    if (report.report == ScreenPopTitle::Report::SubmitRequired) {
        logMessage(LogLevel::Debug, "Pop-up page requires a submit");
        call_.submitPending = true;
        agent_.QueuePhoneEvent(agent::SubmitReqEvent);
        return;
    }
    if (report.report != ScreenPopTitle::Report::SubmitSent) return;

    logMessage(LogLevel::Debug, "Submit has been pressed in the pop-up");
    if (report.conform)
        logMessage(LogLevel::Debug, "Found infos : Client[%s] Campaign[%s] Status[%s]", report.client.c_str(),
                   report.campaign.c_str(), report.status.c_str());
    else
        logMessage(LogLevel::Warning, "New title not conform to client-campaign-status.submit:sent");
    report.tagCall(call_);
    agent_.setAgentMode(3);
    agent_.QueuePhoneEvent(agent::SubmitSentEvent);
}
