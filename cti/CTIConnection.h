#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "cti/CtiAgent.h"
#include "wire/FrameAssembler.h"
#include "infra/Guarded.h"

class InboundMessages;

// The phone's TCP link to the CTI server: connects with retries, announces the phone, keeps
// the link alive with heartbeats, and hands every '~'-ended message to the inbound handlers.
// When the link fails the agent is logged out.
class CTIConnection {
public:
    CTIConnection(const CtiAgent& agent, InboundMessages& inbound);
    virtual ~CTIConnection();
    CTIConnection(const CTIConnection&) = delete;
    CTIConnection& operator=(const CTIConnection&) = delete;

    // The server and the credentials of the next connection.
    void setLogin(const std::string& host, int port, const std::string& agentId, const std::string& password);
    // Starts the connect thread; returns at once.
    void connect();
    bool openSocket();
    void closeSocket();
    // Drops the link (nothing happens when it is not connected).
    void close();
    // Drops the link and waits for the connect and receiver threads to end.
    void shutdown();
    // Sends one message; `logText` replaces the message in the log (a password masked). False
    // when it could not be sent (no link, or the send failed and the link was closed).
    bool sendInfo(const std::string& message, const std::string& logText = {});
    // The inbound dispatcher: answers the heartbeat, hands everything else on.
    void processInfo(const std::string& message);
    bool heartBeatSender();

    bool connected() const { return connected_; }
    bool connecting() const { return connecting_; }
    int heartBeatTimeOutCounter() const { return heartBeatTimeOutCounter_; }

private:
    void connectThread();
    void connectAndLogIn();
    void ctiServerReceiver(int socket);
    // Reads and hands on messages until the link is closed or lost.
    void receiveMessages(int socket);
    // A dead link: close it, log the agent out and say so.
    void linkLost();
    void joinReceiver();

    const CtiAgent agent_;  // four references, held by value
    InboundMessages& inbound_;

    std::atomic<int> heartBeatTimeOutCounter_{0};
    std::mutex socketLock_;  // senders and the shutdown of the socket
    int socket_ = -1;        // closed only by the thread that owns it
    Guarded<std::string> host_;
    std::atomic<int> port_{0};
    Guarded<std::string> agentId_;
    Guarded<std::string> password_;
    std::atomic<bool> connected_{false};
    std::atomic<bool> closing_{false};
    std::atomic<bool> stopConnecting_{false};
    std::atomic<bool> connecting_{false};
    std::mutex connectLock_;  // one connect() at a time
    std::mutex threadsLock_;  // the two thread handles
    std::thread receiverThread_;
    std::thread connectThread_;
};
