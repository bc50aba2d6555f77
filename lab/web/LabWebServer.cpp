#include "lab/web/LabWebServer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "lab/web/LabCustomerForm.h"

namespace {

std::string contentType(const std::string& path) {
    const auto dot = path.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : path.substr(dot + 1);
    if (extension == "html") return "text/html; charset=utf-8";
    if (extension == "txt") return "text/plain; charset=utf-8";
    if (extension == "json") return "application/json";
    return "application/octet-stream";
}

// A path inside the folder: no "..", no empty or hidden segment.
bool safePath(const std::string& path) {
    if (path.size() < 2 || path.front() != '/' || path.find('\0') != std::string::npos) return false;
    std::istringstream segments(path.substr(1));
    for (std::string segment; std::getline(segments, segment, '/');)
        if (segment.empty() || segment.front() == '.') return false;
    return path.back() != '/';
}

const char* faultName(LabWebFault fault) {
    switch (fault) {
    case LabWebFault::NotFound: return "not found";
    case LabWebFault::Stall: return "no answer";
    case LabWebFault::StallAfterHeaders: return "headers, then a stall";
    case LabWebFault::DropMidFile: return "a connection dropped mid-file";
    }
    return "";
}

}  // namespace

LabWebServer::LabWebServer(LabWebOptions options, LabLog log)
    : options_(std::move(options)),
      log_(std::move(log)),
      http_([this](const LabHttpRequest& request) { return answer(request); }, log_) {}

bool LabWebServer::start() {
    if (!http_.start(options_.port)) return false;
    log_("serving " + url("/") + (options_.folder.empty() ? "" : " (files from " + options_.folder + ")"));
    return true;
}

void LabWebServer::stop() { http_.stop(); }

std::string LabWebServer::url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port()) + path; }

std::string LabWebServer::formUrl(const std::string& query) const {
    return url("/form") + (query.empty() ? "" : "?" + query);
}

void LabWebServer::failNext(LabWebFault fault, int count, const std::string& path) {
    std::lock_guard guard(faultsLock_);
    for (int i = 0; i < count; ++i) faults_.push_back({fault, path});
}

void LabWebServer::clearFaults() {
    std::lock_guard guard(faultsLock_);
    faults_.clear();
}

std::optional<LabWebFault> LabWebServer::takeFault(const std::string& path) {
    std::lock_guard guard(faultsLock_);
    const auto found = std::find_if(faults_.begin(), faults_.end(),
                                    [&](const Fault& fault) { return fault.path.empty() || fault.path == path; });
    if (found == faults_.end()) return std::nullopt;
    const LabWebFault fault = found->fault;
    faults_.erase(found);
    return fault;
}

std::optional<std::string> LabWebServer::waitForRequest(const std::string& prefix, std::chrono::milliseconds timeout) const {
    return requests_.waitFor(prefix, timeout);
}

std::map<std::string, std::string> LabWebServer::lastRequestHeaders() const {
    std::lock_guard guard(headersLock_);
    return lastHeaders_;
}

LabHttpResponse LabWebServer::answer(const LabHttpRequest& request) {
    {
        std::lock_guard guard(headersLock_);
        lastHeaders_ = request.headers;
    }
    requests_.add(request.summary() + (request.body.empty() ? "" : " " + request.body));
    const std::optional<LabWebFault> fault = takeFault(request.path);
    if (fault) log_("this request meets " + std::string(faultName(*fault)));
    if (fault == LabWebFault::NotFound) return LabHttpResponse::error(404);
    LabHttpResponse response = page(request);
    if (fault == LabWebFault::Stall) response.delivery = LabHttpDelivery::NeverAnswer;
    if (fault == LabWebFault::StallAfterHeaders) response.delivery = LabHttpDelivery::HeadersThenStall;
    if (fault == LabWebFault::DropMidFile) response.delivery = LabHttpDelivery::DropMidBody;
    return response;
}

LabHttpResponse LabWebServer::page(const LabHttpRequest& request) const {
    if (request.path == "/form") {
        if (request.method != "GET" && request.method != "HEAD") return LabHttpResponse::error(405);
        LabHttpResponse response;
        response.body = LabCustomerForm::fromRequest(request).html();
        return response;
    }
    if (request.path == "/submit") {
        if (request.method != "POST") return LabHttpResponse::error(405);
        LabHttpResponse response;
        response.contentType = "text/plain; charset=utf-8";
        response.body = "received\n";
        return response;
    }
    if (request.method != "GET" && request.method != "HEAD") return LabHttpResponse::error(405);
    return file(request);
}

LabHttpResponse LabWebServer::file(const LabHttpRequest& request) const {
    if (options_.folder.empty() || !safePath(request.path)) return LabHttpResponse::error(404);
    const std::string path = options_.folder + request.path;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return LabHttpResponse::error(404);
    std::ifstream in(path, std::ios::binary);
    if (!in) return LabHttpResponse::error(404);
    LabHttpResponse response;
    response.contentType = contentType(request.path);
    response.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return LabHttpResponse::error(404);
    return response;
}
