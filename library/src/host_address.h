// Reading the projector's address text the same way on every platform.
#pragma once

#include <cstdint>
#include <optional>

namespace zolvane {

// Text made only of digits and dots is a numeric address and never goes to a resolver: it is
// exactly four parts of one to three decimal digits, each at most 255, leading zeros read as
// decimal ("192.168.001.010" is 192.168.1.10). Anything else of that form is no address.
enum class NumericHost { NotNumeric, Address, Malformed };

struct HostReading {
    NumericHost kind = NumericHost::NotNumeric;
    uint32_t address = 0;  // host byte order, meaningful for NumericHost::Address
};

inline HostReading ReadNumericHost(const char* host) {
    HostReading reading;
    for (const char* p = host; *p != '\0'; ++p) {
        if ((*p < '0' || *p > '9') && *p != '.') return reading;
    }
    reading.kind = NumericHost::Malformed;
    if (*host == '\0') return reading;
    const char* p = host;
    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *p++ != '.') return reading;
        unsigned value = 0;
        int digits = 0;
        for (; *p >= '0' && *p <= '9'; ++p, ++digits) value = value * 10 + (*p - '0');
        if (digits < 1 || digits > 3 || value > 255) return reading;
        address = address << 8 | value;
    }
    if (*p != '\0') return reading;
    reading.kind = NumericHost::Address;
    reading.address = address;
    return reading;
}

}  // namespace zolvane
