#include "lab/recorder/LabTls.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>

namespace labtls {

namespace {

bool addExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension) return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

bool writePem(const std::string& path, EVP_PKEY* key, X509* certificate) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file) return false;
    const bool written = key ? PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1
                             : PEM_write_X509(file, certificate) == 1;
    return std::fclose(file) == 0 && written;
}

std::string openSslError() {
    const unsigned long code = ERR_peek_last_error();
    if (code == 0) return "no detail";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

}  // namespace

bool writeSelfSigned(const std::string& certificateFile, const std::string& keyFile) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    bool made = key && certificate;
    if (made) {
        X509_set_version(certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), static_cast<long>(std::time(nullptr)));
        X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 365L * 24 * 3600);
        X509_set_pubkey(certificate, key);
        X509_NAME* name = X509_get_subject_name(certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Orvane lab recording server"), -1, -1, 0);
        X509_set_issuer_name(certificate, name);
        made = addExtension(certificate, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1") &&
               addExtension(certificate, NID_basic_constraints, "critical,CA:TRUE") &&
               X509_sign(certificate, key, EVP_sha256()) > 0 && writePem(certificateFile, nullptr, certificate) &&
               writePem(keyFile, key, nullptr);
    }
    X509_free(certificate);
    EVP_PKEY_free(key);
    return made;
}

std::unique_ptr<ServerContext> ServerContext::load(const std::string& certificateFile, const std::string& keyFile,
                                                   std::string& error) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context && SSL_CTX_use_certificate_chain_file(context, certificateFile.c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) == 1)
        return std::unique_ptr<ServerContext>(new ServerContext(context));
    error = openSslError();
    SSL_CTX_free(context);
    return nullptr;
}

ServerContext::~ServerContext() { SSL_CTX_free(context_); }

Connection::Connection(const ServerContext& context, int socket) : ssl_(SSL_new(context.native())) {
    if (ssl_) SSL_set_fd(ssl_, socket);
}

Connection::~Connection() {
    if (ssl_ && established_) SSL_shutdown(ssl_);
    SSL_free(ssl_);
}

Connection::Result Connection::accept() {
    if (!ssl_) return Result::Failed;
    ERR_clear_error();
    const int done = SSL_accept(ssl_);
    if (done == 1) {
        established_ = true;
        return Result::Done;
    }
    const int error = SSL_get_error(ssl_, done);
    return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? Result::Again : Result::Failed;
}

std::size_t Connection::read(char* buffer, std::size_t size, Result& result) {
    ERR_clear_error();
    std::size_t got = 0;
    if (SSL_read_ex(ssl_, buffer, size, &got) == 1) {
        result = Result::Done;
        return got;
    }
    const int error = SSL_get_error(ssl_, 0);
    result = error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE ? Result::Again : Result::Failed;
    return 0;
}

bool Connection::write(const std::string& bytes) {
    std::size_t written = 0;
    return SSL_write_ex(ssl_, bytes.data(), bytes.size(), &written) == 1 && written == bytes.size();
}

std::string Connection::lastError() const { return openSslError(); }

}  // namespace labtls
