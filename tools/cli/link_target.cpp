#include "link_target.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "exit_status.h"
#include "ini_reader.h"

namespace zolvane::cli {
namespace {

// The library keeps 255 characters of each connection text; a longer one would silently open
// or reach something else.
constexpr std::size_t kMaxLinkText = 255;

// Four decimal parts of one to three digits, each at most 255; leading zeros are decimal too
// ("192.168.001.010" is 192.168.1.10), as the library reads the address.
bool DottedQuad(std::string_view host) {
    int parts = 0;
    while (true) {
        const std::size_t dot = host.find('.');
        const std::string_view part = host.substr(0, dot);
        if (part.empty() || part.size() > 3) return false;
        for (char c : part) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        }
        if (std::stoi(std::string(part)) > 255) return false;
        ++parts;
        if (dot == std::string_view::npos) break;
        host.remove_prefix(dot + 1);
    }
    return parts == 4;
}

bool HostName(std::string_view host) {
    while (true) {
        const std::size_t dot = host.find('.');
        const std::string_view label = host.substr(0, dot);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
            return false;
        }
        for (char c : label) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
        }
        if (dot == std::string_view::npos) return true;
        host.remove_prefix(dot + 1);
    }
}

bool ValidHost(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    const bool numeric = host.find_first_not_of("0123456789.") == std::string_view::npos;
    return numeric ? DottedQuad(host) : HostName(host);
}

uint16_t ParsePort(std::string_view text, const std::string& what) {
    const std::string quoted = what + " '" + std::string(text) + "'";
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        throw UsageError(quoted + " is not a TCP port number (1 to 65535)");
    }
    // Leading zeros are allowed however many there are; the value decides.
    const std::string_view digits = text.substr(std::min(text.find_first_not_of('0'), text.size()));
    if (digits.empty() || digits.size() > 5 || std::stoul(std::string(digits)) > 65535) {
        throw UsageError(quoted + " is out of the range 1 to 65535");
    }
    const unsigned long port = std::stoul(std::string(digits));
    return static_cast<uint16_t>(port);
}

LinkTarget Network(std::string_view host, uint16_t port, std::string origin) {
    if (!ValidHost(host)) {
        throw UsageError("malformed host '" + std::string(host) + "' in " + origin +
                         ": give an IPv4 address (192.168.1.40) or a host name");
    }
    return {LinkTarget::Network, std::string(host), port, std::move(origin), {}, {}, {}};
}

}  // namespace

std::string LinkTarget::describe() const {
    if (!inventoryAddress.empty()) return inventoryAddress;
    if (kind == Serial) return "serial port " + address;
    return "tcp " + address + ":" + std::to_string(port);
}

bool LinkTarget::pjlink() const {
    constexpr std::string_view kScheme = "pjlink://";
    if (inventoryAddress.size() < kScheme.size()) return false;
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(inventoryAddress[i])) != kScheme[i]) {
            return false;
        }
    }
    return true;
}

std::string LinkTarget::linkAddress() const {
    if (!inventoryAddress.empty()) return inventoryAddress;
    // A bare device name reads as serial; only one that looks like another kind needs the prefix
    // (which costs nine of the 255 characters).
    if (kind == Serial) {
        return address.find("://") == std::string::npos ? address : "serial://" + address;
    }
    return "tcp://" + address + ":" + std::to_string(port);
}

LinkTarget SerialTarget(std::string_view port) {
    if (port.empty()) throw UsageError("--serial needs a port, such as /dev/ttyUSB0 or COM1");
    if (port.size() > kMaxLinkText) {
        throw UsageError("serial port name is longer than 255 characters");
    }
    return {LinkTarget::Serial, std::string(port), 0, "--serial", {}, {}, {}};
}

LinkTarget NetworkTarget(std::string_view hostAndPort) {
    const std::size_t colon = hostAndPort.find(':');
    if (colon != std::string_view::npos &&
        hostAndPort.find(':', colon + 1) != std::string_view::npos) {
        throw UsageError("malformed address '" + std::string(hostAndPort) +
                         "': give HOST or HOST:PORT with an IPv4 address or a host name");
    }
    const std::string_view host = hostAndPort.substr(0, colon);
    uint16_t port = 23;
    if (colon != std::string_view::npos) {
        port = ParsePort(hostAndPort.substr(colon + 1), "port in --tcp");
    }
    return Network(host, port, "--tcp");
}

LinkTarget TargetFromSettingsFile(const std::filesystem::path& file, bool named) {
    const std::optional<IniReader> settings = IniReader::Open(file);
    const std::string origin = "settings file " + file.string();
    std::error_code error;
    // A file that is there but cannot be read is no reason to talk to COM1.
    if (!settings && (named || std::filesystem::exists(file, error))) {
        throw UsageError("cannot read settings file " + file.string());
    }
    if (!settings) {
        return {LinkTarget::Serial,
                "COM1",
                0,
                "the default serial port (there is no settings file " + file.string() + ")",
                {},
                {},
                {}};
    }
    const int64_t connection = settings->number("GENERAL", "Connection").value_or(1);
    if (connection == LinkTarget::Serial) {
        const std::string port = settings->text("SERIAL", "Port").value_or("COM1");
        return {LinkTarget::Serial, port.substr(0, kMaxLinkText), 0, origin, {}, {}, {}};
    }
    if (connection == LinkTarget::Network) {
        const std::optional<std::string> host = settings->text("TCP", "IPAddress");
        if (!host) throw UsageError(origin + " chooses TCP but has no TCP/IPAddress");
        // An unusable port number falls back to the default, as the desktop program does.
        return Network(*host, settings->port("TCP", "PortNo").value_or(23), origin);
    }
    throw UsageError(origin + " chooses no link (GENERAL/Connection=" + std::to_string(connection) +
                     "); give --serial PORT or --tcp HOST[:PORT]");
}

}  // namespace zolvane::cli
