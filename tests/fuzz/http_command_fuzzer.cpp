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

std::uint32_t bitOf(Operation operation) {
    switch (operation) {
        case Operation::Get:
            return ZV_OP_GET;
        case Operation::Set:
            return ZV_OP_SET;
        case Operation::Increment:
            return ZV_OP_INCREMENT;
        case Operation::Decrement:
            return ZV_OP_DECREMENT;
        case Operation::Reset:
            return ZV_OP_RESET;
        case Operation::Execute:
            return ZV_OP_EXECUTE;
    }
    return 0;
}

void check(const zolvane::service::CheckedCommand& checked) {
    if (!checked.command) {
        const int status = checked.fault.status;
        if (status != 400 && status != 404 && status != 422) std::abort();
        if (!zolvane::fleet::validUtf8(checked.fault.reason)) std::abort();
        return;
    }
    const zolvane::fleet::Command& command = *checked.command;
    if (!command.setting) std::abort();
    if ((command.setting->operations & bitOf(command.operation)) == 0) std::abort();
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
        zolvane::service::RequestFault fault;
        const zv_setting* setting = zolvane::service::findSetting(name, &fault);
        if (setting && (zolvane::fleet::hasControl(name) || !zolvane::fleet::validUtf8(name))) {
            std::abort();  // a NUL must never cut a name short to another
        }
        if (!setting && fault.status != 404) std::abort();
    } else {
        check(zolvane::service::commandFromBody(input));
    }
    return 0;
}
