// HTTPS for the API and the page: the certificate and key of [service], read at start and at
// every reload, TLS 1.2 or later.
#pragma once

#include <memory>
#include <optional>
#include <string>

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

}  // namespace zolvane::service::http
