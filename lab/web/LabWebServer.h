#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lab/common/LabHttpServer.h"
#include "lab/common/LabLog.h"
#include "lab/common/LabRecorder.h"

struct LabWebOptions {
    std::uint16_t port = 0;  // 0: an ephemeral port
    std::string folder;      // files served to GET and HEAD; empty serves none
};

// What the next requests meet instead of their answer.
enum class LabWebFault {
    NotFound,           // 404
    Stall,              // the connection is accepted and never answered
    StallAfterHeaders,  // the headers go out, then nothing
    DropMidFile,        // the headers and half the body, then the connection closes
};

// The lab's web server on 127.0.0.1: the CRM pages of the screen pop (GET /form, see
// LabCustomerForm; POST /submit, the form's submit) and the files of a folder (the update
// server of the self-update). Faults are played on command, one request each. Every request
// is recorded as "METHOD target", followed by " " and the body when there is one.
//
// start() and stop() belong to the owner; every other operation may be called from any thread.
class LabWebServer {
public:
    explicit LabWebServer(LabWebOptions options = {}, LabLog log = labLogToFile("LabWebServer"));
    LabWebServer(const LabWebServer&) = delete;
    LabWebServer& operator=(const LabWebServer&) = delete;

    bool start();
    void stop();
    std::uint16_t port() const { return http_.port(); }

    // "http://127.0.0.1:PORT" followed by `path`.
    std::string url(const std::string& path) const;
    // The customer form's address, with `query` after a "?" when there is one.
    std::string formUrl(const std::string& query = "") const;

    // The next `count` requests (for `path` only, when it is not empty) meet `fault`, in the
    // order the faults were asked for.
    void failNext(LabWebFault fault, int count = 1, const std::string& path = "");
    void clearFaults();

    std::vector<std::string> requests() const { return requests_.texts(); }
    std::optional<std::string> waitForRequest(const std::string& prefix, std::chrono::milliseconds timeout) const;
    void clearRequests() { requests_.clear(); }
    // The headers of the latest request (names in lower case).
    std::map<std::string, std::string> lastRequestHeaders() const;

private:
    LabHttpResponse answer(const LabHttpRequest& request);
    LabHttpResponse page(const LabHttpRequest& request) const;
    LabHttpResponse file(const LabHttpRequest& request) const;
    std::optional<LabWebFault> takeFault(const std::string& path);

    const LabWebOptions options_;
    const LabLog log_;
    LabRecorder requests_{10000};
    std::mutex faultsLock_;
    struct Fault {
        LabWebFault fault;
        std::string path;  // "" for any
    };
    std::deque<Fault> faults_;
    mutable std::mutex headersLock_;
    std::map<std::string, std::string> lastHeaders_;
    LabHttpServer http_;  // last: its threads end before the rest goes
};
