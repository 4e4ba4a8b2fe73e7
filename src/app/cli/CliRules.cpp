// tarnwick-cli rules list / export / import: an account's rules and the rule files, for headless
// use and scripts.

#include <filesystem>
#include <iostream>
#include <memory>

#include "TCli.h"
#include "accounts/TAdmin.h"
#include "core/Errors.h"
#include "core/Modules.h"
#include "core/TPrompter.h"
#include "core/TRegistry.h"
#include "rules/TRuleFile.h"
#include "rules/TRuleListClass.h"

namespace tarnwick::app {

namespace {

// Messages go to standard error; questions are answered No (nothing here asks one in normal use).
class TCliPrompter : public core::TPrompter
{
public:
    explicit TCliPrompter(std::ostream& err)
        : Err_(err)
    {}
    void Inform(core::TMessageKind kind, const std::string& text) override
    {
        std::string line = text;
        for (std::size_t at = line.find("\n\n"); at != std::string::npos; at = line.find("\n\n", at))
            line.replace(at, 2, ": ");
        Err_ << "tarnwick-cli: "
             << (kind == core::TMessageKind::Information ? ""
                 : kind == core::TMessageKind::Error     ? "error: "
                                                         : "warning: ")
             << line << '\n';
        ++Messages;
    }
    core::TAnswer Ask(core::TMessageKind, const std::string& text, const std::vector<core::TAnswer>&) override
    {
        Err_ << "tarnwick-cli: " << text << " (answered No)\n";
        return core::TAnswer::No;
    }
    int Messages = 0;

private:
    std::ostream& Err_;
};

int List(std::span<const std::string> args, TCliStreams& io)
{
    if (args.size() > 1)
        throw TUsageError("rules list takes an optional account.");
    accounts::TAdmin admin(core::Hive());
    accounts::TUser& user =
        FindCliAccount(admin, args.empty() ? nullptr : &args[0], "There is no account yet.");
    core::TRegistry registry(core::Hive());
    TCliPrompter prompter(io.Err);
    rules::TRuleListClass& list = rules::RulesOf(user);
    rules::LoadRules(registry, prompter, list, user.ID());
    for (const auto& rule : list.Rules) {
        const std::string key = rule->KeyPath.substr(rule->KeyPath.rfind('\\') + 1);
        io.Out << key << '\t' << (rule->IsEnabled() ? "enabled" : "disabled") << '\t' << rule->Criteria.size()
               << '\t' << rule->Name << '\n';
    }
    return 0;
}

int Export(std::span<const std::string> args, TCliStreams& io)
{
    if (args.empty() || args.size() > 2)
        throw TUsageError("rules export takes an optional account and a folder.");
    accounts::TAdmin admin(core::Hive());
    accounts::TUser& user =
        FindCliAccount(admin, args.size() == 2 ? &args[0] : nullptr, rules::NoAccountForExportText);
    const std::string& folder = args.back();
    if (folder.empty())
        throw TUsageError("the folder is empty.");
    core::TRegistry registry(core::Hive());
    TCliPrompter prompter(io.Err);
    rules::LoadRules(registry, prompter, rules::RulesOf(user), user.ID());
    const rules::TRuleFileResult result = rules::ExportRules(prompter, &user, folder, true);
    io.Out << "Exported " << result.Done << " rule(s) to " << folder << ".\n";
    return result.Errors.empty() ? 0 : 1;
}

int Import(std::span<const std::string> args, TCliStreams& io)
{
    if (args.empty() || args.size() > 2)
        throw TUsageError("rules import takes an optional account and a file or folder.");
    accounts::TAdmin admin(core::Hive());
    accounts::TUser& user =
        FindCliAccount(admin, args.size() == 2 ? &args[0] : nullptr,
                       "You have to create an account to be able to import rules from different "
                       "locations !");
    const std::string& path = args.back();
    std::error_code error;
    if (path.empty() || !std::filesystem::exists(path, error))
        throw core::TFileError("There is no file or folder \"" + path + "\" to import from.");
    core::TRegistry registry(core::Hive());
    TCliPrompter prompter(io.Err);
    rules::TRuleListClass& list = rules::RulesOf(user);
    rules::LoadRules(registry, prompter, list, user.ID());
    const rules::TRuleFileResult result = rules::ImportRuleFiles(registry, prompter, user, path);
    // Reading the rules again reports (and drops) criteria of kinds this program does not know.
    rules::LoadRules(registry, prompter, list, user.ID());
    io.Out << "Imported " << result.Done << " rule(s); the account has " << list.Count() << " rule(s).\n";
    return result.Errors.empty() ? 0 : 1;
}

constexpr TCliCommand Commands[] = {
    {"rules list", "list the rules of an account",
     R"(Usage: tarnwick-cli rules list [ACCOUNT]

Lists the rules of ACCOUNT (a display name or key name; the default account
when missing), one per line: key, "enabled" or "disabled", number of
criteria and name, separated by tabs. Reading the rules reports and removes
criteria of unknown kinds and rules without a valid criterion, as the program
does.
)",
     List},
    {"rules export", "write the rules of an account as .tkf files",
     R"(Usage: tarnwick-cli rules export [ACCOUNT] FOLDER

Writes every rule of ACCOUNT (the default account when missing) into FOLDER,
one "<rule name>.tkf" file per rule; FOLDER is made when missing. A rule whose
name cannot be a file name is reported and the others are still written; the
exit status is then 1.
)",
     Export},
    {"rules import", "read .tkf rule files into an account",
     R"(Usage: tarnwick-cli rules import [ACCOUNT] PATH

Imports the rule file PATH, or every "*.tkf" file of the folder PATH (in name
order), into ACCOUNT (the default account when missing); each becomes a new
rule with the next free key number. A file that cannot be read is reported and
the others are still imported; the exit status is then 1.
)",
     Import},
};

} // namespace

std::span<const TCliCommand> RulesCommands()
{
    return Commands;
}

} // namespace tarnwick::app
