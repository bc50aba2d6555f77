#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct ssl_ctx_st;
struct ssl_st;

// The client side of TLS to the recording server, through OpenSSL: the highest protocol
// version both sides offer, the library's default ciphers, and the server's certificate
// checked against a CA file when one is named.
class TlsContext {
public:
    // Null, with the reason in `error`, when no context can be made or the CA file cannot be read.
    static std::unique_ptr<TlsContext> create(const std::string& caFile, std::string& error);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // The server's certificate must chain to the CA file and name the host connected to.
    bool verifiesPeer() const { return verifies_; }
    ssl_ctx_st* native() const { return context_; }

private:
    TlsContext(ssl_ctx_st* context, bool verifies) : context_(context), verifies_(verifies) {}

    ssl_ctx_st* context_;
    bool verifies_;
};

// One TLS connection over a connected socket, which stays owned by the caller.
class TlsConnection {
public:
    // Null when the library cannot make a connection object.
    static std::unique_ptr<TlsConnection> create(const TlsContext& context, int socket, const std::string& host);
    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    // The client handshake; false, with the reason in `error`, when it fails (a certificate
    // that does not verify included).
    bool handshake(std::string& error);
    // Bytes written, or -1.
    long write(const void* bytes, std::size_t size);
    // Bytes read, 0 when the server closed, -1 on error.
    long read(void* buffer, std::size_t size);
    // Decrypted bytes wait to be read.
    bool pending() const;
    // The library's reason for the last failure, for the log.
    static std::string lastError();

private:
    explicit TlsConnection(ssl_st* ssl) : ssl_(ssl) {}

    ssl_st* ssl_;
    bool established_ = false;
};
