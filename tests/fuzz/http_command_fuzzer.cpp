// Command bodies and setting names of any bytes, as the HTTP API checks them before anything is
// queued. Whatever comes, no check throws, and a command that passes names a setting that has
// the operation, with a value (for a set) that the setting takes.
//
// Input: one control byte (bit 0: a PUT of a setting, else a command body); for a PUT, the
// setting's name up to the first newline, then the body.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "command_request.h"
#include "zolvane_fleet/text.h"

namespace {

using zolvane::fleet::Operation;

void check(const zolvane::service::CheckedCommand& checked) {
    if (!checked.command) {
        const int status = checked.fault.status;
        if (status != 400 && status != 404 && status != 422) std::abort();
        if (!zolvane::fleet::validUtf8(checked.fault.reason)) std::abort();
        return;
    }
    const zolvane::fleet::Command& command = *checked.command;
    if (!command.setting) std::abort();
    if (!zolvane::fleet::supports(*command.setting, command.operation)) std::abort();
    if (command.operation == Operation::Set && !zv_value_valid(command.setting, command.value)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        const std::size_t newline = input.find('\n');
        const std::string_view name = input.substr(0, newline);
        const std::string_view body =
            newline == std::string_view::npos ? std::string_view{} : input.substr(newline + 1);
        check(zolvane::service::setFromBody(name, body));
        const zv_setting* setting = zolvane::fleet::findSetting(name);
        if (setting && (zolvane::fleet::hasControl(name) || !zolvane::fleet::validUtf8(name))) {
            std::abort();  // a NUL must never cut a name short to another
        }
    } else {
        check(zolvane::service::commandFromBody(input));
    }
    return 0;
}
