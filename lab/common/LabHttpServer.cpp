#include "lab/common/LabHttpServer.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

#include "infra/Timing.h"
#include "lab/common/LabPollTimeout.h"

namespace {

enum class Ready { Readable, TimedOut, Stopped };

Ready waitReadable(int fd, int stopFd, std::chrono::steady_clock::time_point due) {
    for (;;) {
        pollfd waits[] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int ready = ::poll(waits, 2, pollTimeoutMs(due));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || waits[1].revents) return Ready::Stopped;
        return ready == 0 ? Ready::TimedOut : Ready::Readable;
    }
}

}  // namespace

LabHttpServer::LabHttpServer(Handler handler, LabLog log) : handler_(std::move(handler)), log_(std::move(log)) {}

LabHttpServer::~LabHttpServer() { stop(); }

bool LabHttpServer::start(std::uint16_t port) {
    if (acceptor_.joinable()) return false;
    listener_ = LabSocket::listenOnLoopback(port);
    if (!listener_.valid()) {
        log_("cannot listen on 127.0.0.1:" + std::to_string(port));
        return false;
    }
    stopSignal_.consume();
    port_ = listener_.localPort();
    acceptor_ = std::thread([this] { acceptConnections(); });
    return true;
}

void LabHttpServer::stop() {
    if (!acceptor_.joinable()) return;
    stopSignal_.raise();
    acceptor_.join();
    connections_.join();
    listener_.close();
}

void LabHttpServer::acceptConnections() {
    for (;;) {
        pollfd waits[] = {{listener_.fd(), POLLIN, 0}, {stopSignal_.fd(), POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR) return;
        if (waits[1].revents) return;
        if (!(waits[0].revents & POLLIN)) continue;
        LabSocket connection = listener_.accept();
        if (!connection.valid()) continue;
        connections_.start([this, socket = std::make_shared<LabSocket>(std::move(connection))] {
            serve(std::move(*socket));
        });
    }
}

std::optional<LabHttpRequest> LabHttpServer::readRequest(const LabSocket& connection) {
    LabHttpRequestReader reader;
    const auto due = std::chrono::steady_clock::now() + Timing::scaled(intervals::kLabWebIdle);
    for (;;) {
        if (waitReadable(connection.fd(), stopSignal_.fd(), due) != Ready::Readable) return std::nullopt;
        char buffer[8192];
        const ssize_t count = connection.receive(buffer, sizeof buffer);
        if (count <= 0) return std::nullopt;
        switch (reader.add(std::string_view(buffer, static_cast<std::size_t>(count)))) {
        case LabHttpRequestReader::Result::Incomplete:
            continue;
        case LabHttpRequestReader::Result::Complete:
            return reader.request();
        case LabHttpRequestReader::Result::Bad:
            log_("<< a request it cannot read; answering " + std::to_string(reader.errorStatus()));
            deliver(connection, LabHttpResponse::error(reader.errorStatus()), true);
            return std::nullopt;
        }
    }
}

void LabHttpServer::serve(LabSocket connection) {
    const std::optional<LabHttpRequest> request = readRequest(connection);
    if (!request) return;
    log_("<< " + request->summary() + (request->body.empty() ? "" : " [" + request->body + "]"));
    const LabHttpResponse response = handler_(*request);
    deliver(connection, response, request->method != "HEAD");
}

void LabHttpServer::deliver(const LabSocket& connection, const LabHttpResponse& response, bool withBody) {
    const std::string head = labHttpHead(response, response.body.size());
    const std::string status = std::to_string(response.status) + " " + labHttpReason(response.status);
    switch (response.delivery) {
    case LabHttpDelivery::Complete:
        if (connection.sendAll(head, stopSignal_.fd()) && (!withBody || connection.sendAll(response.body, stopSignal_.fd())))
            log_(">> " + status + ", " + std::to_string(withBody ? response.body.size() : 0) + " bytes");
        else
            log_(">> " + status + ": the client left before the end");
        return;
    case LabHttpDelivery::NeverAnswer:
        log_(">> nothing: the answer stalls");
        stall(connection);
        return;
    case LabHttpDelivery::HeadersThenStall:
        connection.sendAll(head, stopSignal_.fd());
        log_(">> " + status + " headers, then the body stalls");
        stall(connection);
        return;
    case LabHttpDelivery::DropMidBody: {
        const std::string_view half = std::string_view(response.body).substr(0, response.body.size() / 2);
        connection.sendAll(head, stopSignal_.fd());
        connection.sendAll(half, stopSignal_.fd());
        log_(">> " + status + ", " + std::to_string(half.size()) + " of " + std::to_string(response.body.size()) +
             " bytes, then the connection drops");
        return;
    }
    }
}

void LabHttpServer::stall(const LabSocket& connection) {
    const auto never = std::chrono::steady_clock::time_point::max();
    while (waitReadable(connection.fd(), stopSignal_.fd(), never) == Ready::Readable) {
        char buffer[4096];
        if (connection.receive(buffer, sizeof buffer) <= 0) return;
    }
}
