#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

class KVSet;

// The loopback TCP server through which the agent's web applet drives the phone: dial,
// force ready, force hang-up and page-title reports. One client at a time, '~'-framed; a
// client that has said nothing two seconds after connecting gives way to the next client
// that connects, so a silent connection cannot keep the agent's applet out.
//
// start() and stop() may be called from any thread: they take turns, and stop() wakes every
// wait of the listening thread, including a remote dial's wait for its track number.
class ClientListener {
public:
    static constexpr int kDefaultPort = 8767;

    // What the agent does for the client: one operation per request. An answer, when the
    // operation has one, goes back to the client; `stop` is requested when the listener stops,
    // and ends any wait an operation is in.
    class Agent {
    public:
        virtual std::string forceReady() = 0;
        virtual void unconditionalReady(const std::stop_token& stop) = 0;
        // Empty when stopped before the answer.
        virtual std::string forceHangup(const std::stop_token& stop) = 0;
        // False when the agent's state takes no dial; the dial's outcome is reported later.
        virtual bool remoteDial(const std::string& number, const std::string& trackNumber,
                                const std::stop_token& stop) = 0;
        virtual void screenPopTitleChanged(const std::string& title) = 0;

    protected:
        ~Agent() = default;
    };

    explicit ClientListener(Agent& agent, int port = kDefaultPort);
    virtual ~ClientListener();
    ClientListener(const ClientListener&) = delete;
    ClientListener& operator=(const ClientListener&) = delete;

    void start();
    // Waits up to ten seconds for the listening thread; one that is still busy then is joined by
    // the next start() or by the destructor.
    void stop();
    // Sends one message to the client; nothing happens when none is connected.
    void sendInfo(const std::string& message);
    void processInfo(const std::string& message);

    bool clientConnected() const { return clientConnected_; }
    // The port actually listened on (the configured one, or the one the system chose for 0); 0
    // until the listening socket is bound.
    int port() const { return boundPort_; }

private:
    void clientListener();
    // Serves the client on `socket`; `listening` shows whether another client waits.
    void clientHandler(int socket, int listening);
    void closeClient();
    // stop() for a caller that holds lifecycleLock_.
    void stopLocked();
    // Waits for the listening thread, at most `patience`; true when it has ended (and is joined).
    bool joinListener(std::chrono::microseconds patience);
    // Sends an operation's answer, when it has one.
    void answer(const std::string& message);
    void handleOutsideDial(const KVSet& request);
    void handleTitleChange(const KVSet& request);

    Agent& agent_;
    const int port_;
    std::atomic<int> boundPort_{0};
    std::mutex socketLock_;  // senders, and the shutdown that wakes the listening thread
    int wake_ = -1;          // signalled by stop(); owned by this object
    int listenSocket_ = -1;  // both sockets are opened and closed by the listening thread
    int clientSocket_ = -1;
    std::atomic<bool> clientConnected_{false};
    std::atomic<bool> stopListening_{false};
    std::stop_source stopping_;  // renewed by start(), requested by stop()
    std::mutex lifecycleLock_;  // start() and stop() take turns
    std::thread listenerThread_;
    std::mutex endedLock_;
    std::condition_variable endedChanged_;
    bool listenerEnded_ = true;  // the listening thread has returned
};
