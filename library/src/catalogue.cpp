// Lookups in the catalogue, and the read-only interface of zolvane_catalogue.h over them.
#include "catalogue.h"

#include <cctype>

#include "ignoring_case.h"

namespace zolvane {
namespace {

char Folded(char c) {
    if (c == '-' || c == '_') return ' ';
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Equal without regard to case, with '-', '_' and ' ' standing for one another.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Folded(a[i]) != Folded(b[i])) return false;
    }
    return true;
}

std::span<const zv_named_value> NamesOf(const zv_setting& setting) {
    if (setting.names == nullptr) return {};
    return {setting.names, setting.name_count};
}

}  // namespace

const zv_setting* FindSetting(std::string_view nameOrLabel) {
    for (const zv_setting& setting : Catalogue()) {
        if (EqualIgnoringCase(setting.name, nameOrLabel)) return &setting;
    }
    for (const zv_setting& setting : Catalogue()) {
        if (setting.label[0] != '\0' && EqualIgnoringCase(setting.label, nameOrLabel)) {
            return &setting;
        }
    }
    return nullptr;
}

const zv_named_value* FindValueName(const zv_setting& setting, std::string_view name) {
    for (const zv_named_value& named : NamesOf(setting)) {
        if (SameName(named.name, name)) return &named;
    }
    return nullptr;
}

const char* ValueName(const zv_setting& setting, uint16_t value) {
    for (const zv_named_value& named : NamesOf(setting)) {
        if (named.value == value) return named.name;
    }
    return nullptr;
}

bool ValueValid(const zv_setting& setting, int32_t value) {
    if (value < 0 || value > 0xFFFF) return false;
    if (setting.has_range != 0) {
        return value >= setting.min && value <= setting.max &&
               (value - setting.min) % setting.step == 0;
    }
    if (setting.name_count != 0) return ValueName(setting, static_cast<uint16_t>(value)) != nullptr;
    return true;
}

}  // namespace zolvane

extern "C" {

ZV_API size_t ZV_CALL zv_catalogue_size(void) { return zolvane::Catalogue().size(); }

ZV_API const zv_setting* ZV_CALL zv_catalogue_entry(size_t i) {
    const auto catalogue = zolvane::Catalogue();
    return i < catalogue.size() ? &catalogue[i] : nullptr;
}

ZV_API const zv_setting* ZV_CALL zv_catalogue_find(const char* name) {
    return name != nullptr ? zolvane::FindSetting(name) : nullptr;
}

ZV_API const char* ZV_CALL zv_value_name(const zv_setting* setting, uint16_t value) {
    return setting != nullptr ? zolvane::ValueName(*setting, value) : nullptr;
}

ZV_API int32_t ZV_CALL zv_value_from_name(const zv_setting* setting, const char* name,
                                          uint16_t* value) {
    if (setting == nullptr || name == nullptr || value == nullptr) return 0;
    const zv_named_value* named = zolvane::FindValueName(*setting, name);
    if (named == nullptr) return 0;
    *value = named->value;
    return 1;
}

ZV_API int32_t ZV_CALL zv_value_valid(const zv_setting* setting, int32_t value) {
    return setting != nullptr && zolvane::ValueValid(*setting, value) ? 1 : 0;
}

}  // extern "C"
