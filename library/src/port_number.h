// The TCP port of a network connection, read from its decimal text the same way everywhere.
#pragma once

#include <cstdint>

namespace zolvane {

// Leading blanks, an optional sign, then digits up to the first non-digit; no digits give 0.
// Only the low 16 bits count, so the number is accumulated modulo 65536 and never overflows.
inline uint16_t ParsePortNumber(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    uint16_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = static_cast<uint16_t>(value * 10 + (*p - '0'));
    return negative ? static_cast<uint16_t>(0u - value) : value;
}

}  // namespace zolvane
