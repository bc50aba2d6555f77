#include "lab/recorder/LabRecordServer.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "lab/recorder/LabTls.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kReadPoll = 100ms;             // a read gives up this often to look at the stop flag
constexpr auto kIdleLimit = 60s;              // a phone that sends nothing for this long is dropped
constexpr std::uint64_t kLargestUpload = 1ULL << 30;
constexpr auto kSplitPause = 50ms;            // between the two pieces of a split answer

const std::pair<LabRecorderAnswer, const char*> kAnswerNames[] = {
    {LabRecorderAnswer::Success, "success"}, {LabRecorderAnswer::Failed, "failed"},
    {LabRecorderAnswer::WrongName, "wrong-name"}, {LabRecorderAnswer::Split, "split"},
    {LabRecorderAnswer::Silent, "silent"}, {LabRecorderAnswer::Late, "late"}, {LabRecorderAnswer::Drop, "drop"},
};

std::uint32_t littleEndian32(const char* bytes) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

// A name from the wire as a file name in the folder: no directories, no hidden files.
std::string asFileName(std::string name) {
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\0', '_');
    if (name.empty() || name.front() == '.') name.insert(name.begin(), '_');
    return name;
}

}  // namespace

// One phone's connection, plain or TLS, read in pieces so the stop flag is seen.
class LabRecordServer::Peer {
public:
    Peer(LabSocket socket, const labtls::ServerContext* tls, const std::atomic<bool>& stopping, const LabLog& log)
        : socket_(std::move(socket)), stopping_(stopping), log_(log) {
        timeval poll{0, static_cast<suseconds_t>(std::chrono::microseconds(kReadPoll).count())};
        ::setsockopt(socket_.fd(), SOL_SOCKET, SO_RCVTIMEO, &poll, sizeof poll);
        if (tls) tls_ = std::make_unique<labtls::Connection>(*tls, socket_.fd());
    }

    bool handshake() {
        if (!tls_) return true;
        const auto giveUp = Clock::now() + kIdleLimit;
        while (!stopping_ && Clock::now() < giveUp) {
            const auto result = tls_->accept();
            if (result == labtls::Connection::Result::Done) return true;
            if (result == labtls::Connection::Result::Failed) {
                log_("TLS handshake failed: " + tls_->lastError());
                return false;
            }
        }
        return false;
    }

    // All `size` bytes, or false when the phone closed, failed or fell silent, or the server stops.
    bool readExactly(char* buffer, std::size_t size) {
        std::size_t have = 0;
        auto giveUp = Clock::now() + kIdleLimit;
        while (have < size && !stopping_ && Clock::now() < giveUp) {
            const long got = readSome(buffer + have, size - have);
            if (got < 0) return false;
            if (got > 0) giveUp = Clock::now() + kIdleLimit;
            have += static_cast<std::size_t>(got);
        }
        return have == size;
    }

    // Waits until the phone closes the connection (or the server stops).
    void waitForClose() {
        char byte;
        while (!stopping_ && readSome(&byte, 1) >= 0) {
        }
    }

    bool write(const std::string& bytes) {
        if (tls_) return tls_->write(bytes);
        return socket_.sendAll(bytes, -1);
    }

private:
    // > 0 bytes, 0 for nothing yet, -1 when the connection ended.
    long readSome(char* buffer, std::size_t size) {
        if (tls_) {
            labtls::Connection::Result result;
            const std::size_t got = tls_->read(buffer, size, result);
            if (result == labtls::Connection::Result::Failed) return -1;
            return static_cast<long>(got);
        }
        const long got = socket_.receive(buffer, size);
        if (got == 0) return -1;
        if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
        return got;
    }

    LabSocket socket_;
    std::unique_ptr<labtls::Connection> tls_;
    const std::atomic<bool>& stopping_;
    const LabLog& log_;
};

LabRecordServer::LabRecordServer(LabRecorderOptions options, LabLog log)
    : options_(std::move(options)), log_(std::move(log)), answer_(options_.answer) {}

LabRecordServer::~LabRecordServer() { stop(); }

bool LabRecordServer::start() {
    if (acceptor_.joinable()) return false;
    if (options_.tls) {
        certificateFile_ = options_.certificateFile;
        std::string keyFile = options_.keyFile;
        if (certificateFile_.empty()) {
            const std::string folder = options_.folder.empty() ? "." : options_.folder;
            ::mkdir(folder.c_str(), 0755);
            certificateFile_ = folder + "/lab-recorder-certificate.pem";
            keyFile = folder + "/lab-recorder-key.pem";
            if (!labtls::writeSelfSigned(certificateFile_, keyFile)) {
                log_("cannot make a self-signed certificate in " + folder);
                return false;
            }
        }
        std::string error;
        tlsContext_ = labtls::ServerContext::load(certificateFile_, keyFile, error);
        if (!tlsContext_) {
            log_("cannot use the certificate " + certificateFile_ + ": " + error);
            return false;
        }
    }
    if (!options_.folder.empty()) ::mkdir(options_.folder.c_str(), 0755);
    listener_ = LabSocket::listenOnLoopback(options_.port);
    if (!listener_.valid()) {
        log_("cannot listen on 127.0.0.1:" + std::to_string(options_.port));
        return false;
    }
    port_ = listener_.localPort();
    stopping_ = false;
    stopSignal_.consume();
    acceptor_ = std::thread([this] { acceptLoop(); });
    log_(std::string("listening on 127.0.0.1:") + std::to_string(port_) + (options_.tls ? " (TLS, certificate " +
                                                                                          certificateFile_ + ")"
                                                                                    : " (TCP)"));
    return true;
}

void LabRecordServer::stop() {
    if (!acceptor_.joinable()) return;
    stopping_ = true;
    stopSignal_.raise();
    acceptor_.join();
    connectionThreads_.join();
    listener_.close();
    log_("stopped");
}

void LabRecordServer::acceptLoop() {
    while (!stopping_) {
        pollfd waits[] = {{listener_.fd(), POLLIN, 0}, {stopSignal_.fd(), POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR) break;
        if (stopping_) break;
        if (!(waits[0].revents & POLLIN)) continue;
        LabSocket socket = listener_.accept();
        if (!socket.valid()) continue;
        {
            std::lock_guard guard(lock_);
            ++connections_;
        }
        changed_.notify_all();
        connectionThreads_.start([this, socket = std::make_shared<LabSocket>(std::move(socket))]() mutable {
            serve(std::move(*socket));
        });
    }
}

void LabRecordServer::serve(LabSocket socket) {
    // A phone that closes while the answer goes out must not end the program.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    log_("phone connected");
    Peer peer(std::move(socket), tlsContext_.get(), stopping_, log_);
    if (peer.handshake()) receiveUpload(peer);
    log_("connection closed");
}

void LabRecordServer::receiveUpload(Peer& peer) {
    const LabRecorderAnswer answer = takeAnswer();
    char head[5];
    if (!peer.readExactly(head, sizeof head)) {
        log_("the phone sent no upload header");
        return;
    }
    const std::uint32_t following = littleEndian32(head);
    const auto nameField = static_cast<unsigned char>(head[4]);
    if (answer == LabRecorderAnswer::Drop) {
        log_("dropping the connection after the header");
        return;
    }
    if (nameField < 2 || following < nameField || following - nameField > kLargestUpload) {
        log_("malformed upload header: " + std::to_string(following) + " bytes to follow, name field " +
             std::to_string(nameField));
        return;
    }
    std::string name(nameField - 2u, '\0');
    char terminator = 1;
    std::string file(following - nameField, '\0');
    if (!peer.readExactly(name.data(), name.size()) || !peer.readExactly(&terminator, 1) ||
        !peer.readExactly(file.data(), file.size())) {
        log_("the upload of [" + name + "] ended early");
        return;
    }
    if (terminator != 0) {
        log_("the name [" + name + "] is not followed by a 0");
        return;
    }
    const std::string storedAs = store(name, file);
    log_("<< upload " + name + " (" + std::to_string(file.size()) + " bytes)" +
         (storedAs.empty() ? "" : " stored as " + storedAs));
    record({name, file.size(), storedAs, answer});
    this->answer(peer, name, answer);
}

void LabRecordServer::answer(Peer& peer, const std::string& name, LabRecorderAnswer answer) {
    const auto send = [&](const std::string& text) {
        log_(">> " + text);
        if (!peer.write(text)) log_("the answer could not be sent");
    };
    switch (answer) {
        case LabRecorderAnswer::Success: send(name + "^SUCCESS"); break;
        case LabRecorderAnswer::Failed: send(name + "^FAILED"); break;
        case LabRecorderAnswer::WrongName: send("not-" + name + "^SUCCESS"); break;
        case LabRecorderAnswer::Split:
            send(name + "^SUCC");
            std::this_thread::sleep_for(kSplitPause);
            send("ESS");
            break;
        case LabRecorderAnswer::Silent:
            log_("answering nothing");
            peer.waitForClose();
            break;
        case LabRecorderAnswer::Late: {
            const auto due = Clock::now() + Timing::scaled(options_.lateAnswer);
            while (!stopping_ && Clock::now() < due) std::this_thread::sleep_for(10ms);
            send(name + "^SUCCESS");
            break;
        }
        case LabRecorderAnswer::Drop: break;
    }
}

std::string LabRecordServer::store(const std::string& name, const std::string& file) {
    if (options_.folder.empty()) return {};
    const std::string path = options_.folder + "/" + asFileName(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
        log_("cannot store " + path);
        return {};
    }
    return path;
}

LabRecorderAnswer LabRecordServer::takeAnswer() {
    std::lock_guard guard(lock_);
    if (nextAnswers_.empty()) return answer_;
    const LabRecorderAnswer next = nextAnswers_.front();
    nextAnswers_.pop_front();
    return next;
}

void LabRecordServer::record(Upload upload) {
    {
        std::lock_guard guard(lock_);
        uploads_.push_back(std::move(upload));
    }
    changed_.notify_all();
}

void LabRecordServer::setAnswer(LabRecorderAnswer answer) {
    std::lock_guard guard(lock_);
    answer_ = answer;
}

void LabRecordServer::answerNext(LabRecorderAnswer answer, int count) {
    std::lock_guard guard(lock_);
    for (int i = 0; i < count; ++i) nextAnswers_.push_back(answer);
}

std::vector<LabRecordServer::Upload> LabRecordServer::uploads() const {
    std::lock_guard guard(lock_);
    return uploads_;
}

std::optional<LabRecordServer::Upload> LabRecordServer::waitForUpload(const std::string& prefix,
                                                                      std::chrono::milliseconds timeout) const {
    std::unique_lock guard(lock_);
    std::optional<Upload> found;
    changed_.wait_for(guard, timeout, [&] {
        for (const Upload& upload : uploads_)
            if (upload.name.rfind(prefix, 0) == 0) {
                found = upload;
                return true;
            }
        return false;
    });
    return found;
}

bool LabRecordServer::waitForUploadCount(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return uploads_.size() >= count; });
}

void LabRecordServer::clearUploads() {
    std::lock_guard guard(lock_);
    uploads_.clear();
}

int LabRecordServer::connections() const {
    std::lock_guard guard(lock_);
    return connections_;
}

bool LabRecordServer::waitForConnections(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [&] { return connections_ >= count; });
}

std::optional<LabRecorderAnswer> LabRecordServer::answerNamed(const std::string& name) {
    for (const auto& [answer, text] : kAnswerNames)
        if (name == text) return answer;
    return std::nullopt;
}

const char* LabRecordServer::nameOf(LabRecorderAnswer answer) {
    for (const auto& [known, text] : kAnswerNames)
        if (known == answer) return text;
    return "?";
}
