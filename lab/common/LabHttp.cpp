#include "lab/common/LabHttp.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "infra/Trimmed.h"

namespace {

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isalnum(c) || std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
    });
}

}  // namespace

std::optional<std::string> LabHttpRequest::parameter(const std::string& name) const {
    std::string_view rest = query;
    while (!rest.empty()) {
        const auto amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        const auto equals = pair.find('=');
        if (labPercentDecode(pair.substr(0, equals), true) != name) continue;
        return equals == std::string_view::npos ? std::string() : labPercentDecode(pair.substr(equals + 1), true);
    }
    return std::nullopt;
}

LabHttpResponse LabHttpResponse::error(int status) {
    LabHttpResponse response;
    response.status = status;
    response.contentType = "text/plain; charset=utf-8";
    response.body = std::to_string(status) + " " + labHttpReason(status) + "\n";
    return response;
}

std::string labHttpReason(int status) {
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Content Too Large";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 505: return "HTTP Version Not Supported";
    default: return "Status";
    }
}

std::string labHttpHead(const LabHttpResponse& response, std::size_t contentLength) {
    return "HTTP/1.1 " + std::to_string(response.status) + " " + labHttpReason(response.status) +
           "\r\nContent-Type: " + response.contentType + "\r\nContent-Length: " + std::to_string(contentLength) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
}

std::string labPercentDecode(std::string_view text, bool plusIsBlank) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+' && plusIsBlank) {
            decoded += ' ';
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

bool LabHttpRequestReader::refuse(int status) {
    errorStatus_ = status;
    return false;
}

LabHttpRequestReader::Result LabHttpRequestReader::add(std::string_view bytes) {
    if (errorStatus_ != 0) return Result::Bad;
    buffer_.append(bytes);
    if (!bodyStart_) {
        const auto end = buffer_.find("\r\n\r\n");
        if ((end == std::string::npos ? buffer_.size() : end) > kHeadLimit) {
            refuse(431);
            return Result::Bad;
        }
        if (end == std::string::npos) return Result::Incomplete;
        if (!parseHead(std::string_view(buffer_).substr(0, end))) return Result::Bad;
        bodyStart_ = end + 4;
    }
    if (buffer_.size() - *bodyStart_ < bodyLength_) return Result::Incomplete;
    request_.body = buffer_.substr(*bodyStart_, bodyLength_);
    return Result::Complete;
}

bool LabHttpRequestReader::parseHead(std::string_view head) {
    const auto lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto secondSpace = requestLine.find(' ', firstSpace == std::string_view::npos ? 0 : firstSpace + 1);
    if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos ||
        requestLine.find(' ', secondSpace + 1) != std::string_view::npos)
        return refuse(400);
    request_.method = std::string(requestLine.substr(0, firstSpace));
    request_.target = std::string(requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1));
    const std::string_view version = requestLine.substr(secondSpace + 1);
    if (!isToken(request_.method) || request_.target.empty() || request_.target.front() != '/') return refuse(400);
    if (!version.starts_with("HTTP/")) return refuse(400);
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return refuse(505);
    const auto question = request_.target.find('?');
    request_.path = labPercentDecode(std::string_view(request_.target).substr(0, question), false);
    if (question != std::string::npos) request_.query = request_.target.substr(question + 1);

    std::string_view rest = lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);
    while (!rest.empty()) {
        const auto end = rest.find("\r\n");
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) return refuse(400);
        request_.headers[lowerCase(line.substr(0, colon))] = trimmed(std::string(line.substr(colon + 1)));
    }
    if (request_.headers.contains("transfer-encoding")) return refuse(501);
    const auto length = request_.headers.find("content-length");
    if (length == request_.headers.end()) return true;
    const std::string& text = length->second;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bodyLength_);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return refuse(400);
    if (bodyLength_ > kBodyLimit) return refuse(413);
    return true;
}
