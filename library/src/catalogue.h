// The command catalogue as data: one entry per setting, expanded from catalogue.def.
#pragma once

#include <cstdint>
#include <span>

namespace zolvane {

enum Operation : uint8_t {
    OpGet = 1 << 0,
    OpSet = 1 << 1,
    OpIncrement = 1 << 2,
    OpDecrement = 1 << 3,
    OpReset = 1 << 4,
    OpExecute = 1 << 5,
};

struct CatalogueEntry {
    const char* name;    // export suffix, e.g. "Brightness"
    uint16_t type;       // main type code
    uint8_t operations;  // Operation bits
    uint16_t resetType;  // type code sent by the reset export, 0 when there is none
    const char* label;   // name shown to users, "" when none
};

std::span<const CatalogueEntry> Catalogue();

}  // namespace zolvane
