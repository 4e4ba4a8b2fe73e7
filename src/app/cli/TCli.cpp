#include "TCli.h"

#include <iostream>

#include "core/Errors.h"
#include "core/Modules.h"

namespace tarnwick::app {

namespace {

constexpr std::string_view Overview =
    R"(tarnwick-cli: Tarnwick without windows, on the same settings as the program.

Usage: tarnwick-cli COMMAND [ARGUMENTS...]
       tarnwick-cli COMMAND --help

Commands:
)";

std::vector<const TCliCommand*> AllCommands()
{
    std::vector<const TCliCommand*> commands;
    for (const auto& command : SettingsCommands())
        commands.push_back(&command);
    for (const auto& command : InspectCommands())
        commands.push_back(&command);
    for (const auto& command : ListCommands())
        commands.push_back(&command);
    for (const auto& command : RulesCommands())
        commands.push_back(&command);
    for (const auto& command : AccountCommands())
        commands.push_back(&command);
    for (const auto& command : ReceiveCommands())
        commands.push_back(&command);
    return commands;
}

void PrintOverview(std::ostream& out)
{
    out << Overview;
    for (const TCliCommand* command : AllCommands())
        out << "  " << command->Name
            << std::string(command->Name.size() < 18 ? 18 - command->Name.size() : 1, ' ') << command->Summary
            << '\n';
    out << "\nThe settings live in $XDG_CONFIG_HOME/Orvalent/Tarnwick (or below $TARNWICK_HOME when set).\n";
}

} // namespace

bool IsHelpWord(std::string_view word)
{
    return word == "--help" || word == "-h" || word == "help";
}

int RunCli(std::span<const std::string> args, const std::string& executablePath, TCliStreams& io)
{
    if (args.empty()) {
        PrintOverview(io.Err);
        return 2;
    }
    if (IsHelpWord(args[0])) {
        PrintOverview(io.Out);
        return 0;
    }
    // A command is named by one word ("accounts") or by two ("settings export").
    const TCliCommand* found = nullptr;
    std::size_t used = 0;
    for (const TCliCommand* command : AllCommands()) {
        const std::string_view name = command->Name;
        const std::size_t space = name.find(' ');
        if (space == std::string_view::npos) {
            if (args[0] == name)
                found = command, used = 1;
        } else if (args.size() >= 2 && args[0] == name.substr(0, space) &&
                   args[1] == name.substr(space + 1)) {
            found = command, used = 2;
        }
    }
    if (!found) {
        // "tarnwick-cli settings --help" lists the commands of that area.
        bool area = false;
        for (const TCliCommand* command : AllCommands()) {
            if (command->Name.substr(0, command->Name.find(' ')) == args[0]) {
                if (!area && !(args.size() >= 2 && IsHelpWord(args[1])))
                    io.Err << "tarnwick-cli: \"" << args[0] << "\" needs one of these commands:\n";
                area = true;
                (args.size() >= 2 && IsHelpWord(args[1]) ? io.Out : io.Err)
                    << "  " << command->Name << "  " << command->Summary << '\n';
            }
        }
        if (area)
            return args.size() >= 2 && IsHelpWord(args[1]) ? 0 : 2;
        io.Err << "tarnwick-cli: unknown command \"" << args[0] << "\". See \"tarnwick-cli --help\".\n";
        return 2;
    }
    const std::span<const std::string> rest = args.subspan(used);
    for (const auto& word : rest) {
        if (IsHelpWord(word)) {
            io.Out << found->Help;
            return 0;
        }
    }

    try {
        std::vector<std::string> notices;
        core::InitializeModules(executablePath, core::TEnvironment::FromProcess(), notices);
        for (const auto& notice : notices)
            io.Err << "tarnwick-cli: " << notice << '\n';
        core::LoadOptionsAtStart();
        const int status = found->Run(rest, io);
        core::FinalizeModules();
        return status;
    } catch (const TUsageError& e) {
        core::FinalizeModules();
        io.Err << "tarnwick-cli: " << e.what() << "\n\n" << found->Help;
        return 2;
    } catch (const std::exception& e) {
        core::FinalizeModules();
        io.Err << "tarnwick-cli: " << e.what() << '\n';
        return 1;
    }
}

} // namespace tarnwick::app
