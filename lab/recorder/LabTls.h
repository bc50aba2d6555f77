#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct ssl_ctx_st;
struct ssl_st;

// TLS for the lab recording server, through OpenSSL: a self-signed certificate made on the
// spot (for localhost and 127.0.0.1) or read from files, and the server side of a connection.
namespace labtls {

// Makes a fresh EC key and a self-signed certificate for localhost and 127.0.0.1, and writes
// them as PEM files; false when it cannot.
bool writeSelfSigned(const std::string& certificateFile, const std::string& keyFile);

class ServerContext {
public:
    // Null, with the reason in `error`, when the files cannot be used.
    static std::unique_ptr<ServerContext> load(const std::string& certificateFile, const std::string& keyFile,
                                               std::string& error);
    ~ServerContext();
    ServerContext(const ServerContext&) = delete;
    ServerContext& operator=(const ServerContext&) = delete;
    ssl_ctx_st* native() const { return context_; }

private:
    explicit ServerContext(ssl_ctx_st* context) : context_(context) {}
    ssl_ctx_st* context_;
};

// The server side of one TLS connection on a socket whose reads time out now and then, so
// the caller can look at its stop flag between tries.
class Connection {
public:
    Connection(const ServerContext& context, int socket);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    enum class Result { Done, Again, Failed };
    Result accept();
    // Bytes read (> 0), or 0 with `result` saying whether to try again.
    std::size_t read(char* buffer, std::size_t size, Result& result);
    bool write(const std::string& bytes);
    std::string lastError() const;

private:
    ssl_st* ssl_;
    bool established_ = false;
};

}  // namespace labtls
