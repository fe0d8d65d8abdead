// A command for one projector: an operation on one setting of the library's catalogue. One
// operation type, one table of what each operation is called and which catalogue bit allows it,
// and one mapping onto the link's calls, for every front end and the command line.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "zolvane_catalogue.h"
#include "zolvane_link.h"

namespace zolvane::fleet {

enum class Operation { Get, Set, Increment, Decrement, Reset, Execute };

struct OperationInfo {
    Operation operation;
    std::uint32_t bit;      // ZV_OP_*: the setting has it when this bit is in its operations
    std::string_view word;  // in requests and messages: "get", "set", "increment", ...
    std::string_view verb;  // in refusals, after "cannot be": "read", "increased"
};

std::span<const OperationInfo> operations();
const OperationInfo& operationInfo(Operation operation);
// The operation of this word ("get", "set", ...); null when none.
const OperationInfo* operationByWord(std::string_view word);

struct Command {
    Operation operation = Operation::Get;
    const zv_setting* setting = nullptr;  // from the catalogue; never null on a queue
    std::int32_t value = 0;               // for Set: already checked with zv_value_valid
};

// Whether the setting has the operation at all.
bool supports(const zv_setting& setting, Operation operation);
// The type code the frame carries: the reset type code for a reset, the setting's own otherwise.
std::uint16_t frameType(const zv_setting& setting, Operation operation);

// The one exchange that carries out the command on the link; value receives what a Get read.
// Nothing is checked here beyond what the link checks.
zv_result exchange(zv_link* link, const Command& command, std::uint16_t* value);

}  // namespace zolvane::fleet
