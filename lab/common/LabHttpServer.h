#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "infra/ThreadGroup.h"
#include "lab/common/LabHttp.h"
#include "lab/common/LabLog.h"
#include "lab/common/LabSocket.h"
#include "lab/common/LabWakeSignal.h"

// A small HTTP/1.1 server on 127.0.0.1 for the lab's web peers: one request per connection,
// each connection on a thread of its own, so a response stalled on purpose holds up nobody
// else. The handler decides the answer and how it leaves (LabHttpDelivery).
//
// start() and stop() belong to the owner; the handler runs on the connection threads.
class LabHttpServer {
public:
    using Handler = std::function<LabHttpResponse(const LabHttpRequest&)>;

    LabHttpServer(Handler handler, LabLog log);
    ~LabHttpServer();
    LabHttpServer(const LabHttpServer&) = delete;
    LabHttpServer& operator=(const LabHttpServer&) = delete;

    // Listens on `port` (0: an ephemeral one). False when it cannot, or runs already.
    bool start(std::uint16_t port);
    // Closes every connection, stalled ones included, and ends the threads.
    void stop();
    std::uint16_t port() const { return port_; }

private:
    void acceptConnections();
    void serve(LabSocket connection);
    // The next request of the connection; nothing when the client left, stayed silent or
    // the server stops (a bad request is answered here).
    std::optional<LabHttpRequest> readRequest(const LabSocket& connection);
    void deliver(const LabSocket& connection, const LabHttpResponse& response, bool withBody);
    // Holds the connection open until the client leaves or the server stops.
    void stall(const LabSocket& connection);

    const Handler handler_;
    const LabLog log_;
    LabWakeSignal stopSignal_;
    LabSocket listener_;
    std::atomic<std::uint16_t> port_{0};
    std::thread acceptor_;
    ThreadGroup connections_;
};
