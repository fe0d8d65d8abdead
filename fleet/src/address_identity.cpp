#include "zolvane_fleet/address_identity.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "zolvane_fleet/pjlink_address.h"

namespace zolvane::fleet {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (lower(text[i]) != prefix[i]) return false;
    }
    return true;
}

bool digits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Four decimal parts of one to three digits each, as the link reads them ("127.000.000.001").
std::optional<std::uint32_t> dottedAddress(std::string_view host) {
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= host.size() || host[at] != '.') return std::nullopt;
            ++at;
        }
        const std::size_t begin = at;
        unsigned value = 0;
        while (at < host.size() && host[at] >= '0' && host[at] <= '9' && at - begin < 4) {
            value = value * 10 + static_cast<unsigned>(host[at] - '0');
            ++at;
        }
        if (at == begin || at - begin > 3 || value > 255) return std::nullopt;
        address = address << 8 | value;
    }
    if (at != host.size()) return std::nullopt;
    return address;
}

std::string ipv4Text(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

struct NetworkAddress {
    std::string host;  // as written, without brackets
    bool bracketed = false;
    unsigned port = 23;
};

std::optional<NetworkAddress> readNetwork(std::string_view rest) {
    NetworkAddress out;
    std::string_view afterHost;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        out.host = std::string(rest.substr(1, close - 1));
        out.bracketed = true;
        afterHost = rest.substr(close + 1);
    } else {
        const std::size_t colon = rest.find(':');
        out.host = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos) afterHost = rest.substr(colon);
    }
    if (out.host.empty()) return std::nullopt;
    if (!afterHost.empty()) {
        const std::string_view port = afterHost.substr(1);
        if (afterHost.front() != ':' || !digits(port) || port.size() > 5) return std::nullopt;
        out.port = static_cast<unsigned>(std::stoul(std::string(port)));
    }
    return out;
}

// The host as an address when it is written as one; empty for a name.
std::optional<std::string> literalHost(const NetworkAddress& address) {
    if (!address.bracketed) {
        if (const auto v4 = dottedAddress(address.host)) return ipv4Text(*v4);
        return std::nullopt;
    }
    const std::string host = address.host.substr(0, address.host.find('%'));
    in6_addr v6{};
    if (::inet_pton(AF_INET6, host.c_str(), &v6) != 1) return "[" + address.host + "]";
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        const std::uint8_t* b = v6.s6_addr;
        return ipv4Text(std::uint32_t{b[12]} << 24 | std::uint32_t{b[13]} << 16 |
                        std::uint32_t{b[14]} << 8 | b[15]);
    }
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, &v6, text, sizeof text);
    const std::size_t zone = address.host.find('%');
    return "[" + std::string(text) + (zone == std::string::npos ? "" : address.host.substr(zone)) +
           "]";
}

std::string serialIdentity(const std::string& port) {
    std::string device = port;
    if (startsWithNoCase(port, "com") && digits(std::string_view(port).substr(3)) &&
        port.size() <= 8) {
        const unsigned long number = std::stoul(port.substr(3));
        if (number >= 1) device = "/dev/ttyS" + std::to_string(number - 1);
    }
    struct stat status {};
    if (::stat(device.c_str(), &status) == 0) {
        if (S_ISCHR(status.st_mode)) {
            return "serial " + std::to_string(major(status.st_rdev)) + "." +
                   std::to_string(minor(status.st_rdev));
        }
        return "serial file " + std::to_string(status.st_dev) + "." + std::to_string(status.st_ino);
    }
    return "serial " + std::filesystem::path(device).lexically_normal().string();
}

// Name lookups that a caller may give up on: each runs on a thread of its own with state of
// its own, so a resolver that never answers costs no more than the wait.
class Lookups {
public:
    void start(const std::string& name) {
        if (results_.contains(name)) return;
        auto result = std::make_shared<Result>();
        results_.emplace(name, result);
        std::thread([name, result, shared = shared_] {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            std::vector<std::string> addresses;
            if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0) {
                for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
                    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
                    addresses.push_back(ipv4Text(ntohl(in->sin_addr.s_addr)));
                }
                ::freeaddrinfo(found);
            }
            std::lock_guard lock(shared->mutex);
            result->addresses = std::move(addresses);
            result->done = true;
            shared->done.notify_all();
        }).detach();
    }

    void wait(std::chrono::milliseconds most) {
        const auto deadline = std::chrono::steady_clock::now() + most;
        std::unique_lock lock(shared_->mutex);
        shared_->done.wait_until(lock, deadline, [this] {
            return std::all_of(results_.begin(), results_.end(),
                               [](const auto& entry) { return entry.second->done; });
        });
    }

    std::vector<std::string> addresses(const std::string& name) const {
        std::lock_guard lock(shared_->mutex);
        const auto found = results_.find(name);
        if (found == results_.end() || !found->second->done) return {};
        return found->second->addresses;
    }

private:
    struct Result {
        bool done = false;
        std::vector<std::string> addresses;
    };
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
    };
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::map<std::string, std::shared_ptr<Result>> results_;
};

enum class Kind { None, Network, Serial };

struct Reading {
    Kind kind = Kind::None;
    NetworkAddress network;
    std::optional<std::string> literal;
    std::string name;  // lower case, when the host is a name
    std::string serial;
};

Reading read(const std::string& address) {
    Reading reading;
    if (startsWithNoCase(address, "tcp://")) {
        const auto network = readNetwork(std::string_view(address).substr(6));
        if (!network) return reading;
        reading.kind = Kind::Network;
        reading.network = *network;
        reading.literal = literalHost(*network);
        if (!reading.literal) {
            for (const char c : network->host) reading.name += lower(c);
        }
        return reading;
    }
    if (const auto pjlink =
            isPjlinkAddress(address) ? parsePjlinkAddress(address, nullptr) : std::nullopt) {
        // A PJLink projector is the endpoint its port leads to, as a tcp:// one is.
        const std::string host =
            pjlink->host.find(':') != std::string::npos ? "[" + pjlink->host + "]" : pjlink->host;
        Reading network = read("tcp://" + host + ":" + std::to_string(pjlink->port));
        return network;
    }
    std::string device = address;
    if (startsWithNoCase(address, "serial://")) {
        device = address.substr(9);
    } else if (address.find("://") != std::string::npos) {
        return reading;
    }
    if (device.empty()) return reading;
    reading.kind = Kind::Serial;
    reading.serial = serialIdentity(device);
    return reading;
}

}  // namespace

std::vector<std::vector<std::string>> addressIdentities(const std::vector<std::string>& addresses,
                                                        std::chrono::milliseconds lookup) {
    std::vector<Reading> readings;
    readings.reserve(addresses.size());
    Lookups lookups;
    for (const std::string& address : addresses) {
        readings.push_back(read(address));
        if (readings.back().kind == Kind::Network && !readings.back().literal &&
            lookup.count() > 0) {
            lookups.start(readings.back().name);
        }
    }
    lookups.wait(lookup);
    std::vector<std::vector<std::string>> identities;
    identities.reserve(readings.size());
    for (const Reading& reading : readings) {
        std::vector<std::string>& out = identities.emplace_back();
        if (reading.kind == Kind::Serial) {
            out.push_back(reading.serial);
        } else if (reading.kind == Kind::Network) {
            const std::string port = ":" + std::to_string(reading.network.port);
            if (reading.literal) {
                out.push_back("tcp " + *reading.literal + port);
            } else {
                out.push_back("tcp " + reading.name + port);
                for (const std::string& resolved : lookups.addresses(reading.name)) {
                    out.push_back(std::string("tcp ").append(resolved).append(port));
                }
            }
        }
    }
    return identities;
}

std::vector<std::string> addressIdentities(const std::string& address) {
    return addressIdentities(std::vector<std::string>{address}, std::chrono::seconds(2)).front();
}

}  // namespace zolvane::fleet
