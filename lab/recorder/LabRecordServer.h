#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "infra/ThreadGroup.h"
#include "infra/Timing.h"
#include "lab/common/LabLog.h"
#include "lab/common/LabSocket.h"
#include "lab/common/LabWakeSignal.h"

namespace labtls {
class ServerContext;
}

// How the lab recording server answers an upload.
enum class LabRecorderAnswer {
    Success,    // "name^SUCCESS"
    Failed,     // "name^FAILED"
    WrongName,  // another name, "^SUCCESS"
    Split,      // "name^SUCC", a moment later "ESS": one answer in two pieces
    Silent,     // nothing; the connection stays open until the phone closes it
    Late,       // "name^SUCCESS", but only after the phone's time limit
    Drop,       // the connection is closed as soon as the header has come
};

struct LabRecorderOptions {
    std::uint16_t port = 0;  // 0: an ephemeral port
    bool tls = false;
    // Both empty: a self-signed certificate for localhost and 127.0.0.1 is made at start.
    std::string certificateFile;
    std::string keyFile;
    std::string folder;  // where uploads are stored; empty: not stored
    LabRecorderAnswer answer = LabRecorderAnswer::Success;
    std::chrono::milliseconds lateAnswer = intervals::kLabRecorderLateAnswer;  // production value, scaled
};

// A stand-in for the recording server on 127.0.0.1: it takes one file per connection (a
// header of the byte count, the name's length + 2, the name and a 0, then the file), over TCP
// or TLS, parsed by its own code; stores the file in its folder and answers as told.
//
// start() and stop() belong to the owner; every other operation may be called from any thread.
class LabRecordServer {
public:
    struct Upload {
        std::string name;
        std::uint64_t size = 0;
        std::string storedAs;  // the file in the folder; empty when not stored
        LabRecorderAnswer answer = LabRecorderAnswer::Success;
    };

    explicit LabRecordServer(LabRecorderOptions options, LabLog log = labLogToFile("LabRecordServer"));
    ~LabRecordServer();
    LabRecordServer(const LabRecordServer&) = delete;
    LabRecordServer& operator=(const LabRecordServer&) = delete;

    bool start();
    void stop();
    std::uint16_t port() const { return port_; }
    bool tls() const { return options_.tls; }
    // The certificate the server presents (PEM file), for a phone that checks it.
    std::string certificateFile() const { return certificateFile_; }

    // The answer to every upload from now on, and one-off answers for the next uploads.
    void setAnswer(LabRecorderAnswer answer);
    void answerNext(LabRecorderAnswer answer, int count = 1);

    // Every upload received whole, in order.
    std::vector<Upload> uploads() const;
    // The first upload whose name starts with `prefix`, waiting for it up to `timeout`.
    std::optional<Upload> waitForUpload(const std::string& prefix, std::chrono::milliseconds timeout) const;
    bool waitForUploadCount(std::size_t count, std::chrono::milliseconds timeout) const;
    void clearUploads();
    // Connections accepted so far.
    int connections() const;
    bool waitForConnections(int count, std::chrono::milliseconds timeout) const;

    static std::optional<LabRecorderAnswer> answerNamed(const std::string& name);
    static const char* nameOf(LabRecorderAnswer answer);

private:
    class Peer;

    void acceptLoop();
    void serve(LabSocket socket);
    void receiveUpload(Peer& peer);
    void answer(Peer& peer, const std::string& name, LabRecorderAnswer answer);
    std::string store(const std::string& name, const std::string& file);
    LabRecorderAnswer takeAnswer();
    void record(Upload upload);

    LabRecorderOptions options_;
    const LabLog log_;
    std::string certificateFile_;
    std::unique_ptr<labtls::ServerContext> tlsContext_;
    LabSocket listener_;
    LabWakeSignal stopSignal_;
    std::atomic<bool> stopping_{false};
    std::uint16_t port_ = 0;
    std::thread acceptor_;
    ThreadGroup connectionThreads_;

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    LabRecorderAnswer answer_;
    std::deque<LabRecorderAnswer> nextAnswers_;
    std::vector<Upload> uploads_;
    int connections_ = 0;
};
