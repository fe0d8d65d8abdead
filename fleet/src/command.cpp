#include "zolvane_fleet/command.h"

namespace zolvane::fleet {
namespace {

constexpr OperationInfo kOperations[] = {
    {Operation::Get, ZV_OP_GET, "get", "read"},
    {Operation::Set, ZV_OP_SET, "set", "set"},
    {Operation::Increment, ZV_OP_INCREMENT, "increment", "increased"},
    {Operation::Decrement, ZV_OP_DECREMENT, "decrement", "decreased"},
    {Operation::Reset, ZV_OP_RESET, "reset", "reset"},
    {Operation::Execute, ZV_OP_EXECUTE, "execute", "executed"},
};

}  // namespace

std::span<const OperationInfo> operations() { return kOperations; }

const OperationInfo& operationInfo(Operation operation) {
    for (const OperationInfo& info : kOperations) {
        if (info.operation == operation) return info;
    }
    return kOperations[0];
}

const OperationInfo* operationByWord(std::string_view word) {
    for (const OperationInfo& info : kOperations) {
        if (info.word == word) return &info;
    }
    return nullptr;
}

bool supports(const zv_setting& setting, Operation operation) {
    return (setting.operations & operationInfo(operation).bit) != 0;
}

std::uint16_t frameType(const zv_setting& setting, Operation operation) {
    return operation == Operation::Reset ? setting.reset_type : setting.type;
}

zv_result exchange(zv_link* link, const Command& command, std::uint16_t* value) {
    if (command.setting == nullptr) return ZV_RESULT_BAD_ARGUMENT;
    const std::uint16_t type = frameType(*command.setting, command.operation);
    switch (command.operation) {
        case Operation::Get:
            return zv_get(link, type, value);
        case Operation::Set:
            return zv_set(link, type, command.value);
        case Operation::Increment:
            return zv_increment(link, type);
        case Operation::Decrement:
            return zv_decrement(link, type);
        case Operation::Reset:
        case Operation::Execute:
            return zv_execute(link, type);
    }
    return ZV_RESULT_BAD_ARGUMENT;
}

}  // namespace zolvane::fleet
