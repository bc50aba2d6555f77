#include "recording/QMS.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "infra/CLogger.h"
#include "infra/SocketErrorText.h"
#include "infra/Timing.h"
#include "recording/CSADirRead.h"
#include "recording/RecordedSamples.h"
#include "recording/RecordingFileName.h"
#include "recording/TlsClient.h"

namespace {

using Clock = std::chrono::steady_clock;

// The largest file a recording can be; anything bigger in the folder is not one of ours.
constexpr long kLargestStoredRecording =
    static_cast<long>(RecordedSamples::kLongestSeconds) * RecordedSamples::kSampleRate * 2 + 44;

// A peer that closes while we write must not end the process: SIGPIPE is held back on this
// thread for the scope and a pending one is taken away at its end.
class SigpipeHeldBack {
public:
    SigpipeHeldBack() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~SigpipeHeldBack() {
        const timespec none{};
        while (::sigtimedwait(&pipe_, nullptr, &none) == SIGPIPE) {
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeHeldBack(const SigpipeHeldBack&) = delete;
    SigpipeHeldBack& operator=(const SigpipeHeldBack&) = delete;

private:
    sigset_t pipe_{};
    sigset_t previous_{};
};

void setTimeout(int socket, int option, std::chrono::microseconds limit) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(limit.count() / 1000000);
    value.tv_usec = static_cast<suseconds_t>(limit.count() % 1000000);
    ::setsockopt(socket, SOL_SOCKET, option, &value, sizeof value);
}

bool resolve(const std::string& host, int port, sockaddr_in& address) {
    address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (!host.empty() && ::getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found) {
        address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
        return true;
    }
    return ::inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1;
}

// Connects within the time limit; 0, or the error.
int connectWithin(int socket, const sockaddr_in& address, std::chrono::microseconds limit) {
    const int flags = ::fcntl(socket, F_GETFL);
    ::fcntl(socket, F_SETFL, flags | O_NONBLOCK);
    int error = 0;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd waiting{socket, POLLOUT, 0};
            const int ready = ::poll(&waiting, 1, static_cast<int>(std::max<long long>(1, limit.count() / 1000)));
            socklen_t length = sizeof error;
            if (ready <= 0 || ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = ready == 0 ? ETIMEDOUT : errno;
        }
    }
    ::fcntl(socket, F_SETFL, flags);
    return error;
}

// Waits for the end of a pause unless `stopping` is set first.
void pause(std::chrono::microseconds length, const std::atomic<bool>& stopping) {
    const auto end = Clock::now() + length;
    while (!stopping && Clock::now() < end)
        std::this_thread::sleep_for(std::min<Clock::duration>(end - Clock::now(), std::chrono::milliseconds(20)));
}

// The second field of a reply: from the first "^" to the next "^" or the end of the text.
std::string statusOf(const std::string& reply) {
    const auto caret = reply.find('^');
    if (caret == std::string::npos) return {};
    const auto end = reply.find('^', caret + 1);
    return reply.substr(caret + 1, end == std::string::npos ? std::string::npos : end - caret - 1);
}

// The reply as text: it ends at its first NUL, as a C string would.
std::string replyText(const char* buffer, std::size_t size) { return std::string(buffer, ::strnlen(buffer, size)); }

bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        logMessage(LogLevel::Error, "QMS::localRecordingSender - Unable to open file[%s]", path.c_str());
        return false;
    }
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    const std::string name = path.substr(path.rfind('/') + 1);
    logMessage(LogLevel::Debug, "Recording File found[%s] with size[%ld]", name.c_str(), size);
    bool complete = size >= 0 && size <= kLargestStoredRecording;
    if (complete) {
        bytes.resize(static_cast<std::size_t>(size));
        complete = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
    std::fclose(file);
    if (!complete) logMessage(LogLevel::Error, "QMS::localRecordingSender - Unable to read file[%s]", path.c_str());
    return complete;
}

}  // namespace

std::string qmsUploadHeader(const std::string& name, std::size_t fileSize) {
    if (name.size() > kLongestRecordingName) return {};
    const std::size_t nameField = name.size() + 2;
    const std::uint64_t following = nameField + fileSize;
    if (following > UINT32_MAX) return {};
    std::string header;
    for (int i = 0; i < 4; ++i) header += static_cast<char>((following >> (8 * i)) & 0xFF);
    header += static_cast<char>(nameField);
    header += name;
    header += '\0';
    return header;
}

bool qmsReplyComplete(const std::string& reply) {
    const auto caret = reply.find('^');
    if (caret == std::string::npos) return false;
    if (reply.find('^', caret + 1) != std::string::npos) return true;
    const std::string status = reply.substr(caret + 1);
    static const std::string kSuccess = "SUCCESS";
    // Still a beginning of "SUCCESS": more may follow. Anything else is settled.
    return status == kSuccess || kSuccess.compare(0, status.size(), status) != 0;
}

bool qmsAcknowledges(const std::string& reply, const std::string& name, std::string& status) {
    status = statusOf(reply);
    return reply.substr(0, reply.find('^')) == name && reply.find('^') != std::string::npos && status == "SUCCESS";
}

QMS::QMS(Server server, RecordingStore& store) : server_(std::move(server)), store_(store) {}

QMS::~QMS() {
    if (socket_ >= 0) ::close(socket_);
}

bool QMS::openQMSConnection() {
    context_.reset();
    if (server_.secure) {
        logMessage(LogLevel::Debug, "QMS::openQMSConnection Secure()\n");
        std::string error;
        context_ = TlsContext::create(server_.caFile, error);
        if (!context_) {
            logMessage(LogLevel::Debug, "Could not create new CONTEXT for SSL transaction with ENCRYPTION SERVER...");
            logMessage(LogLevel::Error, "QMS::openQMSConnection - %s", error.c_str());
            return false;
        }
    } else {
        logMessage(LogLevel::Debug, "QMS::openQMSConnection()");
    }
    if (socket_ >= 0) ::close(socket_);
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        logMessage(LogLevel::Error, "Network Connection Error: Failed to create socket: %s", socketErrorText().c_str());
        return false;
    }
    logMessage(LogLevel::Error, "Network Connection: successfully created socket");
    sockaddr_in address{};
    const int error = resolve(server_.host, server_.port, address)
                          ? connectWithin(socket_, address, Timing::scaled(intervals::kQmsConnectTimeout))
                          : EADDRNOTAVAIL;
    if (error != 0) {
        connected_ = false;
        logMessage(LogLevel::Error, "Network Connection Error: %s", socketErrorText(error).c_str());
        ::close(socket_);
        socket_ = -1;
        return false;
    }
    setTimeout(socket_, SO_SNDTIMEO, Timing::scaled(intervals::kQmsSendTimeout));
    setTimeout(socket_, SO_RCVTIMEO, Timing::scaled(intervals::kQmsAckTimeout));
    connected_ = true;
    logMessage(LogLevel::Debug, " Connected to remote host. connectedToQMS is true: ");
    return true;
}

int QMS::sendData(TlsConnection* ssl, const std::uint8_t* bytes, std::size_t size) {
    logMessage(LogLevel::Error, "sending a buffer %p size %d secure %d", static_cast<const void*>(bytes),
               static_cast<int>(size), ssl != nullptr);
    if (ssl) logMessage(LogLevel::Debug, "QMS::sendData() Using secure connection");
    std::size_t sent = 0;
    while (sent < size) {
        if (sent == 0) logMessage(LogLevel::Debug, "QMS::sendData() sending first packet...");
        const std::size_t packet = std::min(size - sent, kPacketBytes);
        const long result = ssl ? ssl->write(bytes + sent, packet) : ::send(socket_, bytes + sent, packet, MSG_NOSIGNAL);
        if (result < 0 && errno == EINTR && !ssl) continue;
        if (result < 0) {
            logMessage(LogLevel::Error, "ERROR Got a socket error in QMS : %s", socketErrorText().c_str());
            return -1;
        }
        if (result == 0) return -1;
        sent += static_cast<std::size_t>(result);
    }
    logMessage(LogLevel::Debug, "QMS::sendData() last packet sent... %d bytes remaining", 0);
    return 0;
}

bool QMS::receiveQMS_ACK(int socket, TlsConnection* ssl, char* buffer, std::size_t size, const std::string& name) {
    const std::size_t limit = std::min(size - 1, kAckBytes);
    const auto deadline = Clock::now() + Timing::scaled(intervals::kQmsAckTimeout);
    std::size_t have = 0;
    bool failed = false;
    while (have < limit && !qmsReplyComplete(replyText(buffer, have))) {
        if (!(ssl && ssl->pending())) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd readable{socket, POLLIN, 0};
            if (left <= 0 || ::poll(&readable, 1, static_cast<int>(left)) == 0) {
                if (have == 0) logMessage(LogLevel::Debug, "QMS::receiveQMS_ACK - Timeout on select() ");
                failed = have == 0;
                break;
            }
        }
        const long got = ssl ? ssl->read(buffer + have, limit - have) : ::recv(socket, buffer + have, limit - have, 0);
        if (got < 0 && errno == EINTR && !ssl) continue;
        if (got <= 0) {
            if (have == 0) {
                const std::string reason = got == 0 ? "the server closed the connection" : socketErrorText();
                logMessage(LogLevel::Debug, "QMS::receiveQMS_ACK - Error on recv() [%s]", reason.c_str());
                failed = true;
            }
            break;
        }
        have += static_cast<std::size_t>(got);
    }
    buffer[have] = '\0';
    if (failed) {
        logMessage(LogLevel::Debug, "QMS::receiveQMS_ACK - Socket used: [%d]", socket);
        return false;
    }
    const std::string reply = replyText(buffer, have);
    logMessage(LogLevel::Debug, "QMS::receiveQMS_ACK MSG RECEIVED FROM RECS[%s]", reply.c_str());
    std::string status;
    if (qmsAcknowledges(reply, name, status)) return true;
    if (reply.substr(0, reply.find('^')) == name)
        logMessage(LogLevel::Debug, "received from recordServer[%s]", status.c_str());
    return false;
}

void QMS::CloseQMSConnection() {
    logMessage(LogLevel::Debug, "QMS::CloseQMSConnection()");
    connected_ = false;
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
    context_.reset();
}

bool QMS::sendRecordingToQMS(const std::string& name, std::span<const std::uint8_t> bytes) {
    const SigpipeHeldBack sigpipe;
    logMessage(LogLevel::Debug, "QMS::sendRecordingToQMS... File to send[%s], size[%d]", name.c_str(),
               static_cast<int>(bytes.size()));
    openQMSConnection();
    for (int retries = 0; !connected_ && retries < intervals::kQmsConnectRetries; ++retries) {
        std::this_thread::sleep_for(Timing::scaled(intervals::kQmsConnectRetryPause));
        logMessage(LogLevel::Error, "!connectedToQMS, Cannot connect to QMS");
        if (!openQMSConnection()) std::this_thread::sleep_for(Timing::scaled(intervals::kQmsConnectFailPause));
    }
    if (!connected_) return false;
    logMessage(LogLevel::Debug, "QMS::sendRecordingToQMS... CONNECT TO QMS =TRUE");
    std::unique_ptr<TlsConnection> ssl;
    if (server_.secure) {
        logMessage(LogLevel::Debug, "sendRecordingToQMS Secure () \n");
        ssl = TlsConnection::create(*context_, socket_, server_.host);
        if (!ssl) {
            logMessage(LogLevel::Error, "Cannot create an SSL connection with Encryption Server");
            CloseQMSConnection();
            return false;
        }
        std::string error;
        if (!ssl->handshake(error)) {
            logMessage(LogLevel::Error, "Cannot connect to Encryption Server via SSL connection");
            logMessage(LogLevel::Error, "QMS::sendRecordingToQMS - %s", error.c_str());
            ssl.reset();
            CloseQMSConnection();
            return false;
        }
        if (!context_->verifiesPeer())
            logMessage(LogLevel::Warning,
                       "QMS::sendRecordingToQMS - The certificate of the recording server [%s:%d] is not verified: "
                       "no RecordingServerCaFile is set",
                       server_.host.c_str(), server_.port);
    }
    const bool done = sendOnConnection(name, bytes, ssl.get());
    ssl.reset();
    CloseQMSConnection();
    return done;
}

bool QMS::sendOnConnection(const std::string& name, std::span<const std::uint8_t> bytes, TlsConnection* ssl) {
    const std::string header = qmsUploadHeader(name, bytes.size());
    if (header.empty()) {
        logMessage(LogLevel::Error, "QMS::sendRecordingToQMS - The name [%s] or the size [%lu] does not fit the header",
                   name.c_str(), static_cast<unsigned long>(bytes.size()));
        return false;
    }
    const bool sent = sendData(ssl, reinterpret_cast<const std::uint8_t*>(header.data()), header.size()) == 0 &&
                      sendData(ssl, bytes.data(), bytes.size()) == 0;
    if (!sent) return false;
    logMessage(LogLevel::Debug, "Succcessfully connected to recordServer");
    char acknowledgement[kAckBytes + 1] = {};
    if (receiveQMS_ACK(socket_, ssl, acknowledgement, sizeof acknowledgement, name)) return true;
    logMessage(LogLevel::Debug, "receiveQMS_ACK return FALSE");
    return false;
}

void QMS::writeToDisk(const std::string& name, std::span<const std::uint8_t> bytes) {
    if (store_.write(name, bytes)) return;
    logMessage(LogLevel::Error, "QMS::writeToDisk(): Error opening file %s", name.c_str());
    store_.hold(name, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

void QMS::localRecordingSender(const std::atomic<bool>& stopping) {
    pause(Timing::scaled(intervals::kResendStartPause), stopping);
    CSADirRead scanner;
    scanner.clearFolders();
    scanner.clearFiles();
    scanner.scanFolder(RecordingStore::folder() + "/", false);
    scanner.collectFiles("*.wav", true, false);
    scanner.collectFiles("*.mp3", true, false);
    scanner.sortFiles();
    std::vector<RecordingStore::Held> held = store_.takeHeld();
    std::stable_sort(held.begin(), held.end(),
                     [](const auto& a, const auto& b) { return a.bytes.size() < b.bytes.size(); });
    logMessage(LogLevel::Debug, "Found [%d] local recording files", static_cast<int>(scanner.files().size() + held.size()));

    // Files and recordings held in memory together, smallest first.
    auto file = scanner.files().begin();
    auto memory = held.begin();
    while (!stopping && (file != scanner.files().end() || memory != held.end())) {
        const bool fromFile =
            memory == held.end() || (file != scanner.files().end() && file->size <= memory->bytes.size());
        if (fromFile) {
            std::vector<std::uint8_t> bytes;
            const std::string path = (file++)->path;
            if (!readFile(path, bytes)) continue;
            resend(path.substr(path.rfind('/') + 1), path, bytes);
        } else {
            resend(memory->name, {}, memory->bytes);
            std::vector<std::uint8_t>().swap((memory++)->bytes);
        }
        pause(Timing::scaled(intervals::kResendFilePause), stopping);
    }
    for (; memory != held.end(); ++memory) store_.hold(std::move(memory->name), std::move(memory->bytes));
}

// One stored recording, uploaded once: a file is removed once acknowledged; a recording held in
// memory that is not acknowledged goes back to the folder, or to memory.
void QMS::resend(const std::string& name, const std::string& path, std::span<const std::uint8_t> bytes) {
    const bool sent = sendRecordingToQMS(name, bytes);
    if (sent && !path.empty() && !CSADirRead::removeFile(path))
        logMessage(LogLevel::Error, "Could not delete the file[%s]", path.c_str());
    if (!sent && path.empty()) writeToDisk(name, bytes);
}
