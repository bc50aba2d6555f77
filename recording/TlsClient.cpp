#include "recording/TlsClient.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

std::unique_ptr<TlsContext> TlsContext::create(const std::string& caFile, std::string& error) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context) {
        error = TlsConnection::lastError();
        return nullptr;
    }
    const bool verifies = !caFile.empty();
    if (verifies) {
        if (SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr) != 1) {
            error = "cannot read the CA file " + caFile + ": " + TlsConnection::lastError();
            SSL_CTX_free(context);
            return nullptr;
        }
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    }
    return std::unique_ptr<TlsContext>(new TlsContext(context, verifies));
}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

std::unique_ptr<TlsConnection> TlsConnection::create(const TlsContext& context, int socket, const std::string& host) {
    SSL* ssl = SSL_new(context.native());
    if (!ssl) return nullptr;
    std::unique_ptr<TlsConnection> connection(new TlsConnection(ssl));
    if (SSL_set_fd(ssl, socket) != 1) return nullptr;
    in_addr address{};
    const bool numeric = ::inet_pton(AF_INET, host.c_str(), &address) == 1;
    if (!numeric) SSL_set_tlsext_host_name(ssl, host.c_str());
    if (context.verifiesPeer()) {
        X509_VERIFY_PARAM* check = SSL_get0_param(ssl);
        const int named = numeric ? X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str())
                                  : X509_VERIFY_PARAM_set1_host(check, host.c_str(), 0);
        if (named != 1) return nullptr;
    }
    return connection;
}

TlsConnection::~TlsConnection() {
    if (established_) SSL_shutdown(ssl_);
    SSL_free(ssl_);
}

bool TlsConnection::handshake(std::string& error) {
    ERR_clear_error();
    if (SSL_connect(ssl_) == 1) return established_ = true;
    const long verification = SSL_get_verify_result(ssl_);
    error = verification != X509_V_OK ? X509_verify_cert_error_string(verification) : lastError();
    return false;
}

long TlsConnection::write(const void* bytes, std::size_t size) {
    ERR_clear_error();
    std::size_t written = 0;
    return SSL_write_ex(ssl_, bytes, size, &written) == 1 ? static_cast<long>(written) : -1;
}

long TlsConnection::read(void* buffer, std::size_t size) {
    ERR_clear_error();
    std::size_t got = 0;
    if (SSL_read_ex(ssl_, buffer, size, &got) == 1) return static_cast<long>(got);
    return SSL_get_error(ssl_, 0) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

bool TlsConnection::pending() const { return SSL_pending(ssl_) > 0; }

std::string TlsConnection::lastError() {
    const unsigned long code = ERR_peek_last_error();
    if (code == 0) return "no further detail";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}
