// A command for one projector: an operation on one setting of the library's catalogue. One
// operation type, one table of what each operation is called and which catalogue bit allows it,
// and one mapping onto the link's calls, for every front end and the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

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

// Who asked for a command, for the record kept of it.
struct Origin {
    std::string source;  // the front end: "http", "mqtt", "pjlink", "schedule"; empty: unknown
    std::string who;     // within it: the peer's address, the schedule's name
};

struct Command {
    Operation operation = Operation::Get;
    const zv_setting* setting = nullptr;  // from the catalogue; never null on a queue
    std::int32_t value = 0;               // for Set: already checked with zv_value_valid
    Origin origin;
    // For a set of the input, whose values a projector may name itself (PJLink projectors
    // do): the value as it was given, a name or a number. The queue of a projector with inputs
    // of its own looks it up among them; every other queue takes value, and refuses the command
    // when the catalogue did not take what was given. Empty for every other command.
    std::string ownValue;
};

// The setting of this export name or label, any case; null when none, and for any name that is
// not plain text (a NUL would end the name the catalogue reads early, at another valid name).
const zv_setting* findSetting(std::string_view name);

// How a command was asked for; a refusal is worded for it.
enum class Phrasing {
    Command,  // a command body or topic: "Power has no increment", "Brightness does not take 5"
    Path,     // the path of one setting: "AutoAdjust cannot be read"
    Queued,   // a command that reached a queue unchecked: "5 is not a value of Brightness"
};

struct Refusal {
    enum class Kind {
        NoSetting,      // no setting of that name
        NoOperation,    // the setting lacks the operation
        NoValue,        // a set without a value
        NoValueName,    // none of the setting's values has that name
        ValueNotTaken,  // a value the setting does not take
    };
    Kind kind = Kind::NoSetting;
    std::string reason;
};

struct Checked {
    std::optional<Command> command;
    Refusal refusal;  // when command is empty
};

// A value as a request gives it: a whole number of any size, or the name of one of the
// setting's values.
using Value = std::variant<std::int64_t, std::uint64_t, std::string_view>;

// The one check before anything is queued: the setting by name, that it has the operation, and
// for a set that it takes the value; a value given to any other operation is not looked at.
Checked check(Operation operation, std::string_view setting, std::optional<Value> value,
              Phrasing phrasing);
// The same of a command already built, setting and all. A set of the input passes with a value
// the catalogue does not take (ownValue says what was given): only the projector's queue can
// tell whether it has that input; check(command, phrasing, false) checks it by the catalogue.
Checked check(const Command& command, Phrasing phrasing);
Checked check(const Command& command, Phrasing phrasing, bool projectorNames);

// The check of a command for one projector, by name: a set of the input looked up among the
// projector's own inputs where it has them (value then holds the input's value), by the catalogue
// otherwise. A set refused here is refused by the projector's queue too.
struct ProjectorState;
Checked checkFor(const Command& command, const ProjectorState& state, std::string_view projector,
                 Phrasing phrasing);

// Whether the setting has the operation at all.
bool supports(const zv_setting& setting, Operation operation);
// The type code the frame carries: the reset type code for a reset, the setting's own otherwise.
std::uint16_t frameType(const zv_setting& setting, Operation operation);

// A command as the link's frame carries it: the action (as zv_link_begin takes it),
// the frame's type code and its value.
struct LinkAction {
    std::int32_t action = 0;
    std::uint16_t type = 0;
    std::int32_t value = 0;
};
inline constexpr std::int32_t kActionSet = 1;
inline constexpr std::int32_t kActionGet = 2;
inline constexpr std::int32_t kActionIncrement = 4;
inline constexpr std::int32_t kActionDecrement = 5;
inline constexpr std::int32_t kActionExecute = 6;

// The frame that carries out the command; the setting must not be null.
LinkAction linkAction(const Command& command);

// The one exchange that carries out the command on the link, as a blocking call; value receives
// what a Get read. Nothing is checked here beyond what the link checks.
zv_result exchange(zv_link* link, const LinkAction& action, std::uint16_t* value);
zv_result exchange(zv_link* link, const Command& command, std::uint16_t* value);

}  // namespace zolvane::fleet
