#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "infra/Timing.h"
#include "lab/common/LabFrameSplitter.h"
#include "lab/common/LabLog.h"
#include "lab/common/LabRecorder.h"
#include "lab/common/LabSocket.h"
#include "lab/common/LabWakeSignal.h"

struct LabAppletOptions {
    std::uint16_t port = 8767;  // the phone's local listener on 127.0.0.1
    bool greetOnConnect = true;
    // Production value; the client waits Timing::scaled(heartbeatInterval) between heartbeats.
    std::chrono::milliseconds heartbeatInterval = intervals::kLabAppletHeartbeat;
};

// A stand-in for the agent's web applet: a client of the phone's local listener that greets,
// keeps the heartbeat, sends whatever a test asks and records every reply of the phone.
//
// One thread owns the socket while connected. connect() and disconnect() belong to the client's
// owner; every other operation may be called from any thread.
class LabAppletClient {
public:
    explicit LabAppletClient(LabAppletOptions options = {}, LabLog log = labLogToFile("LabAppletClient"));
    ~LabAppletClient();
    LabAppletClient(const LabAppletClient&) = delete;
    LabAppletClient& operator=(const LabAppletClient&) = delete;

    // Connects (closing an earlier link first), greets and starts the heartbeat. False when the
    // phone does not accept.
    bool connect();
    // Closes the link and ends its thread.
    void disconnect();
    // False once the phone has closed the link.
    bool connected() const;
    bool waitForDisconnection(std::chrono::milliseconds timeout) const;

    // Sends a message and its "~"; dropped, and logged, while not connected.
    void send(const std::string& message);
    // Sends these exact bytes, "~" or not.
    void sendBytes(const std::string& bytes);
    // Sends `byteCount` bytes that never end in "~".
    void sendFlood(std::size_t byteCount);
    // A silent client sends no heartbeats; what it is asked to send still goes out.
    void setSilent(bool silent);

    // The phone's replies, without the "~", in order.
    std::vector<LabReceived> replies() const;
    std::vector<std::string> replyTexts() const;
    std::optional<std::string> waitForReply(const LabRecorder::Match& match, std::chrono::milliseconds timeout) const;
    std::optional<std::string> waitForReply(const std::string& prefix, std::chrono::milliseconds timeout) const;
    bool waitForReplyCount(const LabRecorder::Match& match, std::size_t count,
                           std::chrono::milliseconds timeout) const;
    void clearReplies();

private:
    using Clock = std::chrono::steady_clock;

    void run(LabSocket socket);
    void readReplies(LabSocket& socket, LabFrameSplitter& splitter);
    void sendQueued(LabSocket& socket);
    void sendNow(LabSocket& socket, const std::string& bytes);
    void setConnected(bool connected);

    const LabAppletOptions options_;
    const LabLog log_;
    LabRecorder replies_;
    LabWakeSignal stopSignal_;
    LabWakeSignal sendSignal_;

    std::mutex outgoingLock_;
    std::vector<std::string> outgoing_;

    mutable std::mutex stateLock_;
    mutable std::condition_variable stateChanged_;
    bool connected_ = false;

    std::atomic<bool> silent_{false};
    std::thread thread_;
};
