// The command catalogue as data: one entry per setting, expanded from catalogue.def at compile
// time. Header-only, so that the emulator and the tests read the very table the library exports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "zolvane_catalogue.h"

namespace zolvane {
namespace catalogue_detail {

// Each row's index, so that a range or name row keyed to a setting the table lacks, or given
// twice, does not compile.
enum Row : std::size_t {
#define ZV_SETTING(name, ...) kRow_##name,
#define ZV_EXECUTE(name, ...) kRow_##name,
#include "catalogue.def"
#undef ZV_SETTING
#undef ZV_EXECUTE
    kRowCount
};

template <std::size_t row>
struct Range {
    static constexpr bool known = false;
    static constexpr uint16_t min = 0, max = 0xFFFF, step = 1;
};

template <std::size_t row>
struct Names {
    static constexpr std::span<const zv_named_value> list{};
};

// clang-format off
#define ZV_SETTING(...)
#define ZV_EXECUTE(...)
#define ZV_RANGE(name, lo, hi, by)                                                         \
    template <> struct Range<kRow_##name> {                                                \
        static_assert((lo) <= (hi) && (by) > 0 && ((hi) - (lo)) % (by) == 0);              \
        static constexpr bool known = true;                                                \
        static constexpr uint16_t min = lo, max = hi, step = by;                           \
    };
#define ZV_NAMES(name, ...)                                                                \
    template <> struct Names<kRow_##name> {                                                \
        static constexpr zv_named_value entries[] = {__VA_ARGS__};                         \
        static constexpr std::span<const zv_named_value> list{entries};                    \
    };
#include "catalogue.def"
#undef ZV_SETTING
#undef ZV_EXECUTE
#undef ZV_RANGE
#undef ZV_NAMES

#define ZV_BIT_Y(bit) bit
#define ZV_BIT_N(bit) 0u
#define ZV_DESCRIBED(name)                                                                 \
    Range<kRow_##name>::known ? 1 : 0, Range<kRow_##name>::min, Range<kRow_##name>::max,   \
        Range<kRow_##name>::step,                                                          \
        Names<kRow_##name>::list.empty() ? nullptr : Names<kRow_##name>::list.data(),      \
        Names<kRow_##name>::list.size()
#define ZV_SETTING(name, type, get, set, inc, dec, reset, resetType, label)                \
    zv_setting{#name, label, type, resetType,                                              \
               ZV_BIT_##get(ZV_OP_GET) | ZV_BIT_##set(ZV_OP_SET) |                         \
                   ZV_BIT_##inc(ZV_OP_INCREMENT) | ZV_BIT_##dec(ZV_OP_DECREMENT) |         \
                   ZV_BIT_##reset(ZV_OP_RESET),                                            \
               ZV_DESCRIBED(name)},
#define ZV_EXECUTE(name, type, label)                                                      \
    zv_setting{#name, label, type, 0, ZV_OP_EXECUTE, ZV_DESCRIBED(name)},

inline constexpr zv_setting kCatalogue[] = {
#include "catalogue.def"
};
// clang-format on

#undef ZV_SETTING
#undef ZV_EXECUTE
#undef ZV_DESCRIBED
#undef ZV_BIT_Y
#undef ZV_BIT_N

}  // namespace catalogue_detail

inline constexpr std::span<const zv_setting> Catalogue() { return catalogue_detail::kCatalogue; }

// As zv_catalogue_find: the export name first, then the label, both without regard to case.
const zv_setting* FindSetting(std::string_view nameOrLabel);

// As zv_value_from_name; null when the setting has no value of that name.
const zv_named_value* FindValueName(const zv_setting& setting, std::string_view name);

// As zv_value_name; null when the value has no name.
const char* ValueName(const zv_setting& setting, uint16_t value);

// As zv_value_valid.
bool ValueValid(const zv_setting& setting, int32_t value);

}  // namespace zolvane
