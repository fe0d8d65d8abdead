#include "completion_command.h"

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "inventory_location.h"
#include "setting_table.h"
#include "value_text.h"

#ifdef ZOLVANE_HAVE_INVENTORY
#include "settings.h"  // zolvaned's, which checks the inventory whole
#include "zolvane_fleet/inventory.h"
#endif

namespace zolvane::cli {
namespace {

struct CompletionRequest {
    std::string what;
    std::vector<std::string> args;
};

// Hidden commands (this one) have no group, as --help leaves them out.
std::vector<const CLI::App*> VisibleCommands(const CLI::App& app) {
    std::vector<const CLI::App*> commands;
    for (const CLI::App* command : app.get_subcommands({})) {
        if (!command->get_group().empty()) commands.push_back(command);
    }
    return commands;
}

// Null when there is no such command (or no name).
const CLI::App* FindCommand(const CLI::App& app, std::string_view name) {
    for (const CLI::App* command : VisibleCommands(app)) {
        if (!name.empty() && command->check_name(std::string(name))) return command;
    }
    return nullptr;
}

void PrintOptionNames(std::ostream& out, const CLI::App& app, bool valuedOnly) {
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_positional()) continue;
        if (valuedOnly && option->get_items_expected_max() == 0) continue;
        for (const std::string& name : option->get_snames()) out << '-' << name << '\n';
        for (const std::string& name : option->get_lnames()) out << "--" << name << '\n';
    }
}

// A setting name or a sub-command whose value is a name of the catalogue ("input": its value
// option lists the names of InputSource).
std::vector<std::string> ValueNames(const CLI::App& app, const std::string& word) {
    std::string list;
    if (const SettingRow* row = FindSetting(word); row != nullptr) {
        list = ValueNameList(*row);
    } else if (const CLI::App* command = FindCommand(app, word); command != nullptr) {
        if (const CLI::Option* value = command->get_option_no_throw("value"); value != nullptr) {
            list = value->get_type_name();
        }
    }
    // Spaces stand for '-' where values are read, and a shell word cannot hold them unquoted.
    std::vector<std::string> names;
    std::string name;
    for (const char c : list + '|') {
        if (c == '|') {
            if (!name.empty()) names.push_back(name);
            name.clear();
        } else {
            name += c == ' ' ? '-' : c;
        }
    }
    return names;
}

// Nothing at all when there is no inventory or it does not load: a completion never complains.
void PrintTargets(std::ostream& out, const std::vector<std::string>& args) {
#ifdef ZOLVANE_HAVE_INVENTORY
    const std::filesystem::path file =
        args.empty() ? DefaultInventory() : std::filesystem::path(args.front());
    if (file.empty()) return;
    const fleet::LoadResult loaded = zolvane::service::loadCheckedInventory(file);
    if (!loaded.inventory) return;
    out << "@all\n";
    for (const fleet::ProjectorEntry& projector : loaded.inventory->projectors) {
        out << '@' << projector.name << '\n';
    }
    for (const std::string& group : loaded.inventory->groups()) out << '@' << group << '\n';
#else
    (void)out;
    (void)args;
#endif
}

int RunCompletion(const CLI::App& app, const CompletionRequest& request, std::ostream& out) {
    const std::string argument = request.args.empty() ? std::string() : request.args.front();
    if (request.what == "commands") {
        for (const CLI::App* command : VisibleCommands(app)) out << command->get_name() << '\n';
    } else if (request.what == "options") {
        const CLI::App* command = FindCommand(app, argument);
        PrintOptionNames(out, command != nullptr ? *command : app, false);
    } else if (request.what == "valued-options") {
        PrintOptionNames(out, app, true);
        const CLI::App* command = FindCommand(app, argument);
        if (command != nullptr) PrintOptionNames(out, *command, true);
    } else if (request.what == "settings") {
        for (const SettingRow& row : SettingTable()) {
            const bool fits = argument.empty() || [&] {
                for (const fleet::OperationInfo& info : fleet::operations()) {
                    if (OperationWord(info.operation) == argument) {
                        return row.supports(info.operation);
                    }
                }
                return true;  // a command that is not one of these takes any setting
            }();
            if (fits) out << row.name << '\n';
        }
    } else if (request.what == "values") {
        for (const std::string& name : ValueNames(app, argument)) out << name << '\n';
    } else if (request.what == "targets") {
        PrintTargets(out, request.args);
    } else {
        throw UsageError("no completion of '" + request.what + "'");
    }
    out.flush();
    if (!out) throw OutputError("the candidates could not be written");
    return ExitOk;
}

}  // namespace

void AddCompletionCommand(CLI::App& app, std::function<int(CommandContext&)>& action) {
    auto request = std::make_shared<CompletionRequest>();
    CLI::App* command = app.add_subcommand("__complete", "Candidates for shell completion");
    command->group("");
    command->add_option("what", request->what)->required();
    command->add_option("args", request->args);
    command->callback([&app, &action, request] {
        action = [&app, request](CommandContext& context) {
            return RunCompletion(app, *request, context.out);
        };
    });
}

}  // namespace zolvane::cli
