#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One HTTP/1.1 request as a lab web peer received it.
struct LabHttpRequest {
    std::string method;
    std::string target;  // as sent: the path and the query
    std::string path;    // percent-decoded, without the query
    std::string query;   // as sent, after the "?"
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;

    // A query parameter, percent-decoded ("+" is a blank); nothing when absent.
    std::optional<std::string> parameter(const std::string& name) const;
    // The request line as logged: "GET /form?x=1".
    std::string summary() const { return method + " " + target; }
};

// How a response leaves the server: whole, or broken on purpose for the client's tests.
enum class LabHttpDelivery {
    Complete,
    NeverAnswer,       // the request is read and nothing is ever sent
    HeadersThenStall,  // the status line and headers, then nothing
    DropMidBody,       // the headers and half the body, then the connection is closed
};

struct LabHttpResponse {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::string body;
    LabHttpDelivery delivery = LabHttpDelivery::Complete;

    static LabHttpResponse error(int status);
};

// The status line and headers of `response` for a body of `contentLength` bytes; every
// response closes its connection.
std::string labHttpHead(const LabHttpResponse& response, std::size_t contentLength);
std::string labHttpReason(int status);
// "%41+b" gives "A b" when `plusIsBlank`; a malformed escape stays as it is.
std::string labPercentDecode(std::string_view text, bool plusIsBlank);

// Collects the bytes of one connection until a whole request is there. Bodies need a
// Content-Length; chunked requests are refused.
class LabHttpRequestReader {
public:
    static constexpr std::size_t kHeadLimit = 16 * 1024;
    static constexpr std::size_t kBodyLimit = 1024 * 1024;

    enum class Result { Incomplete, Complete, Bad };

    Result add(std::string_view bytes);
    // The request, once add() said Complete.
    const LabHttpRequest& request() const { return request_; }
    // The status to answer with, once add() said Bad.
    int errorStatus() const { return errorStatus_; }

private:
    // Reads the request line and headers; false (with the status to answer) when they are bad.
    bool parseHead(std::string_view head);
    // Keeps the status to answer with; always false.
    bool refuse(int status);

    std::string buffer_;
    std::optional<std::size_t> bodyStart_;
    std::size_t bodyLength_ = 0;
    LabHttpRequest request_;
    int errorStatus_ = 0;
};
