// The inventory reader and the text checks on any bytes: never a crash, a fault always has a
// reason, a sound inventory holds only what the checks allow, and the text helpers agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings.h"
#include "zolvane_fleet/inventory.h"
#include "zolvane_fleet/text.h"

using namespace zolvane::fleet;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::string shown = printable(text);
    if (!validUtf8(shown) || hasControl(shown)) std::abort();
    const std::string repaired = validUtf8Copy(text);
    if (!validUtf8(repaired)) std::abort();
    if (validUtf8(text) && (repaired != text || !characterCount(text))) std::abort();

    // As the service reads it: the fleet's own tables and every front end's part.
    const LoadResult result = zolvane::service::parseCheckedInventory(text, false);
    if (result.inventory.has_value() == !result.faults.empty()) std::abort();
    for (const Fault& fault : result.faults) {
        if (fault.reason.empty()) std::abort();
    }
    if (result.inventory) {
        for (const ProjectorEntry& entry : result.inventory->projectors) {
            const auto characters = characterCount(entry.label);
            if (entry.name.empty() || !characters || *characters > 128 || hasControl(entry.label))
                std::abort();
        }
    }
    return 0;
}
