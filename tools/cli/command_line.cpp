#include "command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "backup_commands.h"
#include "check_command.h"
#include "command_context.h"
#include "completion_command.h"
#include "frame_command.h"
#include "list_command.h"
#include "power_command.h"
#include "setting_commands.h"
#include "spelling.h"
#include "status_command.h"
#include "target_runner.h"
#include "value_text.h"
#include "zolvane_fleet/watched.h"

namespace zolvane::cli {
namespace {

using Action = std::function<int(CommandContext&)>;

constexpr const char* kExitStatusHelp =
    "Exit status: 0 success, 1 the projector refused or a value could not be read,\n"
    "2 usage error (nothing was sent), 3 the link failed (port, connection or time-out),\n"
    "4 the output could not be written (standard output or the backup file).\n"
    "With @targets: the worst of all projectors, worst first 4, 2, 3, 1, 0. zolvane check\n"
    "exits as monitoring plug-ins do: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (also for its\n"
    "usage errors).\n\n"
    "Projectors by name: zolvane [OPTIONS] @NAME|@GROUP|@all... COMMAND runs the command on\n"
    "each projector of the inventory named (--inventory, else $ZOLVANE_INVENTORY,\n"
    "~/.config/zolvane/inventory.toml, /etc/zolvaned/inventory.toml), --jobs at once. Each\n"
    "line starts with the projector's name and each projector's lines come together as it\n"
    "finishes; a summary on standard error ends the run. --json, before or after the\n"
    "command, prints one JSON object per projector and line: name, address, reachable,\n"
    "result, status, reason.";

struct Arguments {
    std::string setting;
    std::string value;
    std::string action;
    std::optional<std::string> frameValue;
    bool names = false;  // the default; still taken from scripts that ask for it
    bool number = false;
    bool unchecked = false;
    PowerChoice power;
    std::string file;
    bool json = false;
    RestoreChoice restore;
};

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
    auto* serial =
        app.add_option("--serial", options.serialPort,
                       "Serial port of the projector (/dev/ttyUSB0, COM1 for /dev/ttyS0)")
            ->type_name("PORT");
    auto* tcp = app.add_option("--tcp", options.tcpAddress,
                               "Network address of the projector or of a serial-to-network bridge "
                               "in raw mode; port 23 by default")
                    ->type_name("HOST[:PORT]");
    auto* settings = app.add_option("--settings", options.settingsFile,
                                    "Read the link from this Varnex settings file (Varnix.txt); "
                                    "by default from the one Varnex uses")
                         ->type_name("FILE");
    serial->excludes(tcp)->excludes(settings);
    tcp->excludes(settings);
    app.add_flag("--trace", options.trace,
                 "Show each frame sent and each reply on standard error, in hex");
    app.add_option("--retries", options.retries,
                   "Try again this many times after a link failure (time-out, no connection)")
        ->check(CLI::Range(0, 100))
        ->type_name("N");
    app.add_option("--pause", options.waitMs, "Pause this many milliseconds between commands")
        ->check(CLI::Range(0, 600000))
        ->type_name("MS");
    // The pause's older name, for scripts; power --wait is something else.
    app.add_option("--wait", options.waitMs)->check(CLI::Range(0, 600000))->group("");
    app.add_option("-i,--inventory", options.inventory,
                   "The fleet's inventory, for projectors named with @ (by default the first "
                   "of $ZOLVANE_INVENTORY, ~/.config/zolvane/inventory.toml, "
                   "/etc/zolvaned/inventory.toml)")
        ->type_name("FILE");
    app.add_option("-j,--jobs", options.jobs,
                   "Projectors at once, 1 to 256, for projectors named with @; 32 by default")
        ->type_name("N");
    app.add_flag("--json", options.json,
                 "One JSON object per projector and line: name, address, reachable, result "
                 "(the command's output), status (its exit status) and reason");
}

CLI::App* AddSettingCommand(CLI::App& app, const char* name, const char* description,
                            Operation operation, Arguments& arguments, Action& action) {
    CLI::App* command = app.add_subcommand(name, description);
    command->add_option("setting", arguments.setting, "Setting name or label (see zolvane list)")
        ->required();
    if (operation == Operation::Set) {
        command->add_option("value", arguments.value, "Decimal, 0x hex, or a value name")
            ->required();
        command->add_flag("-u,--unchecked", arguments.unchecked,
                          "Send a number outside the range that zolvane list shows, for a "
                          "projector that takes more");
    }
    if (operation == Operation::Get) {
        command->add_flag("--names", arguments.names,
                          "Print a named value as its name and number: Normal (16); the default");
        command->add_flag("-n,--number", arguments.number, "Print the value in decimal alone: 16");
    }
    command->callback([&arguments, &action, operation] {
        action = [&arguments, operation](CommandContext& context) {
            return RunSettingCommand(context, operation, arguments.setting, arguments.value,
                                     arguments.number, arguments.unchecked, {}, arguments.json);
        };
    });
    return command;
}

// A set of one setting under a command of its own: the fleet's short word for one of the values
// it watches. The value names come from the catalogue and are read as set reads them. noun words
// the refusal of a word that is none of them.
CLI::App* AddEverydayCommand(CLI::App& app, const char* word, const char* description,
                             const char* noun, Arguments& arguments, Action& action) {
    const char* setting = fleet::watchedByCommand(word)->setting;
    CLI::App* command = app.add_subcommand(word, description);
    command->add_option("value", arguments.value)
        ->required()
        ->type_name(ValueNameList(RequireSetting(setting, Operation::Set)));
    command->callback([&arguments, &action, setting, noun] {
        action = [&arguments, setting, noun](CommandContext& context) {
            return RunSettingCommand(context, Operation::Set, setting, arguments.value, false,
                                     false, noun);
        };
    });
    return command;
}

void AddPowerCommand(CLI::App& app, Arguments& arguments, Action& action) {
    CLI::App* power = AddEverydayCommand(app, "power", "Switch the projector on or off",
                                         "a power state", arguments, action);
    power->add_flag("-w,--wait", arguments.power.wait,
                    "Wait until the projector reports the state (warmed up, cooled down)");
    power
        ->add_option("--timeout", arguments.power.timeoutSeconds,
                     "Give up waiting after this many seconds (default " +
                         std::to_string(kOnTimeout) + " for on, " + std::to_string(kOffTimeout) +
                         " for off); also bounds waiting for a cool-down before on")
        ->check(CLI::Range(0u, 86400u))
        ->type_name("SECONDS");
    power->callback([&arguments, &action] {
        action = [&arguments](CommandContext& context) {
            return RunPower(context, arguments.value, arguments.power);
        };
    });
}

void AddRestoreChoice(CLI::App& command, RestoreChoice& choice) {
    command.add_flag("--include-power", choice.power, "Include the power state");
    command.add_flag("--include-input", choice.input, "Include the input source");
    command.add_flag("--include-passing", choice.passing,
                     "Include blank, mute, freeze and magnify, left alone otherwise");
}

void AddCommands(CLI::App& app, Arguments& arguments, Action& action) {
    AddSettingCommand(app, "get", "Read a setting and print its value: Normal (16), 140",
                      Operation::Get, arguments, action);
    AddSettingCommand(app, "set", "Change a setting", Operation::Set, arguments, action);
    AddSettingCommand(app, "inc", "Step a setting up by the projector's step", Operation::Increment,
                      arguments, action);
    AddSettingCommand(app, "dec", "Step a setting down by the projector's step",
                      Operation::Decrement, arguments, action);
    AddSettingCommand(app, "reset", "Restore a setting's default (lamp and filter time: zero)",
                      Operation::Reset, arguments, action);
    AddSettingCommand(app, "exec", "Run a one-shot command: AutoAdjust", Operation::Execute,
                      arguments, action);
    AddPowerCommand(app, arguments, action);
    AddEverydayCommand(app, "input", "Select the input source", "an input", arguments, action);
    AddEverydayCommand(app, "blank", "Blank the picture or show it again", "a blank state",
                       arguments, action);
    AddEverydayCommand(app, "mute", "Mute the sound or turn it on again", "a mute state", arguments,
                       action);

    CLI::App* status = app.add_subcommand(
        "status", "Power, input, blank, mute, lamp time, filter time and error status");
    status->add_flag("--json", arguments.json, "Print JSON instead of text");
    status->callback([&] {
        action = [&arguments](CommandContext& context) {
            return RunStatus(context, arguments.json);
        };
    });

    CLI::App* list = app.add_subcommand(
        "list", "Every setting with its type code, operations, reset code and label");
    list->add_flag("--json", arguments.json, "Print JSON instead of text");
    list->callback([&] {
        action = [&arguments](CommandContext& context) {
            return RunList(context.out, arguments.json);
        };
    });

    CLI::App* frame = app.add_subcommand(
        "frame", "Print the 13 bytes of a command frame in hex, without sending anything");
    frame->add_option("action", arguments.action, "get, set, inc, dec, reset or exec")->required();
    frame->add_option("setting", arguments.setting, "Setting name or label, or a type code")
        ->required();
    frame->add_option("value", arguments.frameValue, "Value, for set only");
    frame->callback([&] {
        action = [&arguments](CommandContext& context) {
            return RunFrame(context.out, arguments.action, arguments.setting, arguments.frameValue);
        };
    });

    CLI::App* backup = app.add_subcommand(
        "backup", "Save every readable setting, with the projector's reply, to a JSON file");
    backup->add_option("file", arguments.file, "Backup file to write")->required();
    backup->callback([&] {
        action = [&arguments](CommandContext& context) {
            return RunBackup(context, arguments.file);
        };
    });

    CLI::App* restore = app.add_subcommand(
        "restore", "Write every settable value of a backup back to the projector, in a safe order");
    restore->add_option("file", arguments.file, "Backup file to read")->required();
    AddRestoreChoice(*restore, arguments.restore);
    restore->callback([&] {
        action = [&arguments](CommandContext& context) {
            return RunRestore(context, arguments.file, arguments.restore);
        };
    });

    CLI::App* diff = app.add_subcommand(
        "diff", "Compare the projector with a backup (the values a restore would write)");
    diff->add_option("file", arguments.file, "Backup file to read")->required();
    AddRestoreChoice(*diff, arguments.restore);
    diff->callback([&] {
        action = [&arguments](CommandContext& context) {
            return RunDiff(context, arguments.file, arguments.restore);
        };
    });

    AddCompletionCommand(app, action);
}

// CLI11's own complaints read as every other error of the tool: one line that starts with
// "zolvane:", names the sub-command and says where help is.
int ReportParseError(CLI::App& app, const CLI::ParseError& error, std::ostream& out,
                     std::ostream& err) {
    if (error.get_exit_code() == 0) {
        app.exit(error, out, err);  // --help, --version
        return ExitOk;
    }
    if (app.get_subcommands().empty() && !app.remaining().empty() &&
        dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
        // CLI11 would only say that a command is required when the word given is not one.
        // Hidden commands (an empty group) are never suggested.
        std::vector<std::string_view> commands;
        for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
            if (!command->get_group().empty()) commands.push_back(command->get_name());
        }
        const std::string word = app.remaining().front();
        std::string hint = DidYouMean(word, commands);
        if (hint.empty()) hint = " (zolvane --help lists the commands)";
        err << "zolvane: unknown command '" << word << "'" << hint << '\n';
        return ExitUsage;
    }
    std::string message = error.what();
    std::string help = "zolvane";
    for (const CLI::App* command : app.get_subcommands()) help += " " + command->get_name();
    // "The following argument...", "A subcommand...", but not "--retries: ..." nor "JSON".
    if (message.size() > 1 && std::isupper(static_cast<unsigned char>(message[0])) &&
        !std::isupper(static_cast<unsigned char>(message[1]))) {
        message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
    }
    err << "zolvane: " << message << " (see " << help << " --help)\n";
    return ExitUsage;
}

// Everything that decides where the command goes, checked before anything is sent.
struct Targets {
    std::vector<NamedTarget> named;
    unsigned jobs = 0;
};

Targets ChooseTargets(const std::vector<std::string>& words, const GlobalOptions& options,
                      const CLI::App& app) {
    Targets targets;
    targets.jobs = ParseJobs(options.jobs);
    if (words.empty()) return targets;
    if (options.serialPort || options.tcpAddress || options.settingsFile) {
        throw UsageError(
            "projectors named with @ cannot be mixed with --serial, --tcp or "
            "--settings");
    }
    targets.named = ResolveTargets(words, options.inventory);
    if (targets.named.size() > 1 && app.got_subcommand("backup")) {
        throw UsageError("backup writes one file: name one projector");
    }
    return targets;
}

std::vector<std::string> CommandNames(CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        names.push_back(command->get_name());
    }
    return names;
}

}  // namespace

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"Controls a projector over a serial port or a TCP connection.", "zolvane"};
    app.set_version_flag("--version", "zolvane " ZOLVANE_VERSION);
    app.footer(kExitStatusHelp);
    app.require_subcommand(1);
    app.fallthrough();

    GlobalOptions options;
    Arguments arguments;
    Action action;
    CheckLimits checkLimits;
    bool checking = false;
    AddGlobalOptions(app, options);
    AddCommands(app, arguments, action);
    AddCheckCommand(app, checkLimits, checking);

    // The @targets come out before CLI11 sees the words; check's usage errors are UNKNOWN.
    std::vector<std::string> words(argv, argv + argc);
    const std::vector<std::string> commands = CommandNames(app);
    const std::vector<std::string> targetWords = TakeTargetWords(words, commands);
    const auto command = std::find_first_of(words.begin() + std::min<std::size_t>(1, words.size()),
                                            words.end(), commands.begin(), commands.end());
    const int usageStatus =
        command != words.end() && *command == "check" ? int{CheckUnknown} : int{ExitUsage};
    std::vector<char*> args;
    for (std::string& word : words) args.push_back(word.data());

    try {
        app.parse(static_cast<int>(args.size()), args.data());
    } catch (const CLI::ParseError& error) {
        const int status = ReportParseError(app, error, out, err);
        return status == ExitUsage ? usageStatus : status;
    }

    Targets targets;
    try {
        targets = ChooseTargets(targetWords, options, app);
        if (checking) return RunCheck(targets.named, targets.jobs, options, checkLimits, out);
    } catch (const UsageError& error) {
        err << "zolvane: " << error.what() << '\n';
        return usageStatus;
    }
    // The commands that have JSON of their own give it as each projector's result; their own
    // --json (status --json) asks for the same lines as the one before the command.
    const bool commandJson = arguments.json;
    if (options.json) arguments.json = true;
    if (!targets.named.empty()) {
        // A misspelt setting is said once, not once per projector. (Not backup: it opens its
        // file before its first exchange, so it is neither probed nor given a head start.)
        const bool probed = !app.got_subcommand("backup");
        if (probed) {
            if (const auto fault =
                    ProbeBeforeSending(action, options, AnyPjlink(targets.named)).usageError) {
                err << "zolvane: " << *fault << '\n';
                return ExitUsage;
            }
        }
        return RunOnTargets(targets.named, targets.jobs, options, action,
                            options.json || commandJson, out, err, probed);
    }
    if (options.json) return RunJsonOnLink(options, action, out);
    if (commandJson) return RunWithJsonFallback(options, action, out, err);

    CommandContext context(options, out, err);
    return RunGuarded(action, context);
}

}  // namespace zolvane::cli
