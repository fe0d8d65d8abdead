#include "catalogue.h"

namespace zolvane {
namespace {

// clang-format off
#define ZV_BIT_Y(bit) bit
#define ZV_BIT_N(bit) 0
#define ZV_SETTING(name, type, get, set, inc, dec, reset, resetType, label)                    \
    {#name, type,                                                                             \
     static_cast<uint8_t>(ZV_BIT_##get(OpGet) | ZV_BIT_##set(OpSet) | ZV_BIT_##inc(OpIncrement) | \
                          ZV_BIT_##dec(OpDecrement) | ZV_BIT_##reset(OpReset)),               \
     resetType, label},
#define ZV_EXECUTE(name, type, label) {#name, type, OpExecute, 0, label},

constexpr CatalogueEntry kCatalogue[] = {
#include "catalogue.def"
    // clang-format on
};

#undef ZV_SETTING
#undef ZV_EXECUTE
#undef ZV_BIT_Y
#undef ZV_BIT_N

}  // namespace

std::span<const CatalogueEntry> Catalogue() { return kCatalogue; }

}  // namespace zolvane
