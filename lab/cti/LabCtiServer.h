#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "lab/cti/LabCtiOptions.h"
#include "lab/cti/LabNotReadyPairing.h"
#include "lab/common/LabElement.h"
#include "lab/common/LabFieldMessage.h"
#include "lab/common/LabFrameSplitter.h"
#include "lab/common/LabLog.h"
#include "lab/common/LabRecorder.h"
#include "lab/common/LabSocket.h"
#include "lab/common/LabWakeSignal.h"

// A stand-in for the CTI server VelmoraCCS on 127.0.0.1, serving one phone at a time: it
// answers the phone's messages as LabCtiOptions says, sends whatever a test pushes, plays
// network faults on command and records every message the phone sent.
//
// One thread owns the sockets. start() and stop() belong to the server's owner; every other
// operation may be called from any thread.
class LabCtiServer {
public:
    explicit LabCtiServer(LabCtiOptions options = {}, LabLog log = labLogToFile("LabCtiServer"));
    ~LabCtiServer();
    LabCtiServer(const LabCtiServer&) = delete;
    LabCtiServer& operator=(const LabCtiServer&) = delete;

    // Listens and starts serving. After a stop it starts again on the same port. False when
    // the port cannot be bound or the server is already running.
    bool start();
    // Closes the phone's link and the listening socket and ends the serving thread.
    void stop();
    std::uint16_t port() const;

    // Changes the options while running; `change` runs under the options lock, so it must not
    // call back into the server.
    void configure(const std::function<void(LabCtiOptions&)>& change);
    LabCtiOptions options() const;

    // Sends a message and its "~" to the connected phone (dropped, and logged, when none is).
    void push(const std::string& message);
    void push(const LabElement& message);
    // Sends these exact bytes, "~" or not: split and joined frames.
    void pushBytes(const std::string& bytes);
    // Sends a frame that is neither a heartbeat nor an element message.
    void pushGarbage();
    // Sends `byteCount` bytes that never end in "~".
    void pushUnterminated(std::size_t byteCount);

    // A silent server answers nothing, heartbeats included, and keeps the link open; pushes
    // still go out.
    void setSilent(bool silent);
    // Closes the phone's link; the server then waits for the next connection.
    void dropConnection();

    // What the phone sent, without the "~", in order.
    std::vector<LabReceived> received() const;
    std::vector<std::string> receivedTexts() const;
    std::optional<std::string> waitFor(const LabRecorder::Match& match, std::chrono::milliseconds timeout) const;
    std::optional<std::string> waitFor(const std::string& prefix, std::chrono::milliseconds timeout) const;
    bool waitForCount(const LabRecorder::Match& match, std::size_t count, std::chrono::milliseconds timeout) const;
    void clearReceived();

    // Connections accepted since construction.
    int connections() const;
    bool connected() const;
    bool waitForConnection(std::chrono::milliseconds timeout) const;
    // Waits until at least `count` connections have been accepted.
    bool waitForConnections(int count, std::chrono::milliseconds timeout) const;
    bool waitForDisconnection(std::chrono::milliseconds timeout) const;

private:
    using Clock = std::chrono::steady_clock;

    struct Command {
        enum class Kind { Send, Drop } kind;
        std::string bytes;
    };
    struct TimedAnswer {
        Clock::time_point due;
        std::string message;
    };
    // What belongs to the one connected phone; touched by the serving thread only.
    struct Connection {
        LabSocket socket;
        LabFrameSplitter splitter;
        LabNotReadyPairing notReady;
        std::vector<TimedAnswer> timedAnswers;
    };

    void serve();
    void acceptPhone();
    int msUntilNextAnswer() const;
    void readFromPhone();
    void runCommands();
    void sendDueAnswers();
    void endConnection(const std::string& why);
    void setConnected(bool connected);
    void enqueue(Command command);

    void handleMessage(const std::string& text);
    void answerHello(const LabCtiOptions& options);
    void answerLogin(const LabFieldMessage& message, const LabCtiOptions& options);
    void answerNotReady(const LabFieldMessage& message, const LabCtiOptions& options);
    void answerPersonalDial(const LabCtiOptions& options);
    void answerConsultRequest(const std::string& text, const LabCtiOptions& options);
    void answerLater(std::string message, std::chrono::milliseconds productionDelay);
    void send(const std::string& bytes);

    const LabLog log_;
    LabRecorder recorder_;
    LabWakeSignal stopSignal_;
    LabWakeSignal commandSignal_;

    mutable std::mutex optionsLock_;
    LabCtiOptions options_;

    std::mutex commandsLock_;
    std::vector<Command> commands_;

    mutable std::mutex stateLock_;
    mutable std::condition_variable stateChanged_;
    bool connected_ = false;
    int connections_ = 0;
    std::uint16_t port_ = 0;

    std::atomic<bool> silent_{false};
    std::thread thread_;

    // Opened by start(), then the serving thread's alone.
    LabSocket listener_;
    std::optional<Connection> connection_;
};
