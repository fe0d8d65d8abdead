#include "link_address.h"

#include <cstring>

#include "host_address.h"

namespace zolvane {
namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Letters, digits, '-', '_' and '.', and a dotted address whose parts are decimal and in range.
bool ValidHostName(const std::string& host) {
    if (host.empty()) return false;
    for (const char c : host) {
        if (!IsAlnum(c) && c != '-' && c != '_' && c != '.') return false;
    }
    return ReadNumericHost(host.c_str()).kind != NumericHost::Malformed;
}

// Hexadecimal groups, colons and dots (an embedded IPv4 part), then an optional "%zone".
bool ValidIpv6(const std::string& host) {
    const std::size_t zone = host.find('%');
    const std::string address = host.substr(0, zone);
    if (address.find(':') == std::string::npos) return false;
    for (const char c : address) {
        const bool hex = IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex && c != ':' && c != '.') return false;
    }
    if (zone == std::string::npos) return true;
    const std::string name = host.substr(zone + 1);
    if (name.empty()) return false;
    for (const char c : name) {
        if (!IsAlnum(c) && c != '-' && c != '_' && c != '.') return false;
    }
    return true;
}

// One to five digits, 1 to 65535, nothing else.
bool ValidPort(const std::string& port) {
    if (port.empty() || port.size() > 5) return false;
    unsigned value = 0;
    for (const char c : port) {
        if (!IsDigit(c)) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value >= 1 && value <= 65535;
}

LinkAddress ReadNetwork(const std::string& rest) {
    LinkAddress address;
    address.network = true;
    std::string afterHost;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) return address;
        address.where = rest.substr(1, close - 1);
        address.ipv6 = true;
        if (!ValidIpv6(address.where)) return address;
        afterHost = rest.substr(close + 1);
    } else {
        const std::size_t colon = rest.find(':');
        address.where = rest.substr(0, colon);
        if (!ValidHostName(address.where)) return address;
        if (colon != std::string::npos) afterHost = rest.substr(colon);
    }
    if (afterHost.empty()) {
        address.port = "23";
    } else {
        if (afterHost.front() != ':') return address;
        address.port = afterHost.substr(1);
        if (!ValidPort(address.port)) return address;
        address.port = std::to_string(std::stoul(address.port));
    }
    address.valid = true;
    return address;
}

}  // namespace

LinkAddress ReadLinkAddress(const char* text) {
    LinkAddress address;
    if (text == nullptr || strnlen(text, kMaxAddressLength + 1) > kMaxAddressLength) {
        return address;
    }
    const std::string whole(text);
    if (StartsWith(whole, "tcp://")) return ReadNetwork(whole.substr(6));
    std::string device = whole;
    if (StartsWith(whole, "serial://")) {
        device = whole.substr(9);
    } else if (whole.find("://") != std::string::npos) {
        return address;  // a kind of link this library does not have
    }
    address.where = device;
    address.valid = !device.empty();
    return address;
}

}  // namespace zolvane
