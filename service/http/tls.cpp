#include "http/tls.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace zolvane::service::http {

class TlsServer {
public:
    explicit TlsServer(SSL_CTX* context) : context_(context) {}
    ~TlsServer() { SSL_CTX_free(context_); }
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    SSL_CTX* context() const { return context_; }

private:
    SSL_CTX* context_;
};

namespace {

// TLS 1.2 suites with forward secrecy and an AEAD cipher only; TLS 1.3's own are all of that.
constexpr const char* kCiphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

// A key protected by a passphrase is refused rather than asked for on a terminal.
int noPassphrase(char*, int, int, void*) { return -1; }

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openFile(const std::string& path, const std::string& what, std::string* why) {
    // A device or a FIFO (/dev/zero, a pipe) would hold up the check or never end.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        *why = what + " " + path + " cannot be read: " +
               (error ? error.message() : std::string("it is not a regular file"));
        return nullptr;
    }
    File file(std::fopen(path.c_str(), "re"));
    if (!file) *why = what + " " + path + " cannot be read: " + std::strerror(errno);
    return file;
}

std::string utcDay(const ASN1_TIME* time) {
    std::tm parts{};
    if (ASN1_TIME_to_tm(time, &parts) != 1) return "an unreadable date";
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return std::string(text) + " (UTC)";
}

// OpenSSL's own words for the last failure, for faults the checks above did not name.
std::string lastError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "no reason given";
    char text[256] = "";
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

TlsStep stepOf(SSL* session, int result) {
    if (result > 0) return {TlsStep::Outcome::Done, static_cast<std::size_t>(result)};
    const int error = SSL_get_error(session, result);
    ERR_clear_error();
    switch (error) {
        case SSL_ERROR_WANT_READ:
            return {TlsStep::Outcome::WantRead, 0};
        case SSL_ERROR_WANT_WRITE:
            return {TlsStep::Outcome::WantWrite, 0};
        case SSL_ERROR_ZERO_RETURN:
            return {TlsStep::Outcome::Ended, 0};
        default:
            return {TlsStep::Outcome::Failed, 0};
    }
}

int clampedSize(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

}  // namespace

std::optional<std::string> checkTlsFiles(const std::string& certificate, const std::string& key) {
    std::string why;
    const File certificateFile = openFile(certificate, "the certificate", &why);
    if (!certificateFile) return why;
    const std::unique_ptr<X509, X509Free> x509(
        PEM_read_X509(certificateFile.get(), nullptr, noPassphrase, nullptr));
    ERR_clear_error();
    if (!x509) return "the certificate " + certificate + " holds no PEM certificate";
    const ASN1_TIME* notAfter = X509_get0_notAfter(x509.get());
    const ASN1_TIME* notBefore = X509_get0_notBefore(x509.get());
    if (X509_cmp_current_time(notAfter) <= 0) {
        return "the certificate " + certificate + " expired on " + utcDay(notAfter);
    }
    if (X509_cmp_current_time(notBefore) >= 0) {
        return "the certificate " + certificate + " is not valid before " + utcDay(notBefore);
    }

    const File keyFile = openFile(key, "the key", &why);
    if (!keyFile) return why;
    const std::unique_ptr<EVP_PKEY, KeyFree> privateKey(
        PEM_read_PrivateKey(keyFile.get(), nullptr, noPassphrase, nullptr));
    ERR_clear_error();
    if (!privateKey) {
        return "the key " + key +
               " holds no PEM private key (one protected by a passphrase cannot be used)";
    }
    if (X509_check_private_key(x509.get(), privateKey.get()) != 1) {
        ERR_clear_error();
        return "the key " + key + " does not belong to the certificate " + certificate;
    }
    return {};
}

std::shared_ptr<const TlsServer> loadTls(const std::string& certificate, const std::string& key,
                                         std::string* why) {
    if (auto fault = checkTlsFiles(certificate, key)) {
        *why = std::move(*fault);
        return nullptr;
    }
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context) {
        *why = "TLS cannot be set up: " + lastError();
        return nullptr;
    }
    auto server = std::make_shared<const TlsServer>(context);
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // No renegotiation (a peer's way to make the server work at will), no session resumption
    // (nothing to keep per client), no compression.
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_TICKET |
                                     SSL_OP_NO_COMPRESSION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    SSL_CTX_set_num_tickets(context, 0);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    // Writes may end part way on a full socket and be offered again from elsewhere; an idle
    // connection gives its buffers back.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                  SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_default_passwd_cb(context, noPassphrase);
    if (SSL_CTX_set_cipher_list(context, kCiphers) != 1) {
        *why = "TLS cannot be set up: " + lastError();
        return nullptr;
    }
    if (SSL_CTX_use_certificate_chain_file(context, certificate.c_str()) != 1) {
        *why = "the certificate " + certificate + " cannot serve: " + lastError();
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context) != 1) {
        *why = "the key " + key + " cannot serve with the certificate " + certificate + ": " +
               lastError();
        return nullptr;
    }
    return server;
}

ssl_st* openSession(const TlsServer& tls, int socket) {
    SSL* session = SSL_new(tls.context());
    if (!session) {
        ERR_clear_error();
        return nullptr;
    }
    if (SSL_set_fd(session, socket) != 1) {
        ERR_clear_error();
        SSL_free(session);
        return nullptr;
    }
    SSL_set_accept_state(session);
    return session;
}

void closeSession(ssl_st* session) {
    if (!session) return;
    if (SSL_is_init_finished(session) && !(SSL_get_shutdown(session) & SSL_SENT_SHUTDOWN)) {
        SSL_shutdown(session);
    }
    ERR_clear_error();
    SSL_free(session);
}

TlsStep tlsHandshake(ssl_st* session) {
    ERR_clear_error();
    return stepOf(session, SSL_do_handshake(session));
}

TlsStep tlsRead(ssl_st* session, char* into, std::size_t size) {
    ERR_clear_error();
    return stepOf(session, SSL_read(session, into, clampedSize(size)));
}

TlsStep tlsWrite(ssl_st* session, const char* from, std::size_t size) {
    if (size == 0) return {TlsStep::Outcome::Done, 0};
    ERR_clear_error();
    return stepOf(session, SSL_write(session, from, clampedSize(size)));
}

bool tlsPending(ssl_st* session) { return SSL_has_pending(session) == 1; }

bool tlsHandshaken(ssl_st* session) { return SSL_is_init_finished(session) == 1; }

}  // namespace zolvane::service::http
