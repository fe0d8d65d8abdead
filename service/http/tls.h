// HTTPS for the API and the page: the certificate and key of [service], read at start and at
// every reload, TLS 1.2 or later.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

struct ssl_st;  // one connection's session, OpenSSL's

namespace zolvane::service::http {

// Why this certificate (PEM, the chain after it) and key cannot serve: unreadable, not PEM, not
// each other's, expired or not yet valid. Empty when they can.
std::optional<std::string> checkTlsFiles(const std::string& certificate, const std::string& key);

// A server's TLS set-up made from one certificate and key; the gate makes each connection's
// session from the one it holds when the connection is accepted.
class TlsServer;

// Empty with the reason in *why when checkTlsFiles() would refuse the pair.
std::shared_ptr<const TlsServer> loadTls(const std::string& certificate, const std::string& key,
                                         std::string* why);

// The session of one accepted, non-blocking socket, its handshake still to come; it holds its
// own reference to the set-up. Null when none could be made.
ssl_st* openSession(const TlsServer& tls, int socket);
// Sends the closing alert when it can at once (never waits), and frees the session.
void closeSession(ssl_st* session);

// What one step on a non-blocking session came to.
struct TlsStep {
    enum class Outcome { Done, WantRead, WantWrite, Ended, Failed };
    Outcome outcome = Outcome::Failed;
    std::size_t bytes = 0;  // Done: moved
};

TlsStep tlsHandshake(ssl_st* session);
TlsStep tlsRead(ssl_st* session, char* into, std::size_t size);
// Writes what it can of from; after WantRead or WantWrite, the same bytes are offered again.
TlsStep tlsWrite(ssl_st* session, const char* from, std::size_t size);
// Whether the session holds bytes read from the socket that were not taken yet: epoll cannot
// tell of those.
bool tlsPending(ssl_st* session);
bool tlsHandshaken(ssl_st* session);

}  // namespace zolvane::service::http
