// tarnwick-cli list black|white ... and databases ...: the address lists and the spam databases.

#include <algorithm>
#include <iostream>
#include <stdexcept>

#include "TCli.h"
#include "classify/TAddressLists.h"
#include "classify/TReadDatabaseSettings.h"
#include "core/Modules.h"
#include "core/TPrompter.h"
#include "core/TextUtils.h"

namespace tarnwick::app {

namespace {

using classify::TListKind;

// Messages of the list files go to standard error; these commands ask no questions.
class TCliPrompter : public core::TPrompter
{
public:
    explicit TCliPrompter(std::ostream& err)
        : Err_(err)
    {}
    void Inform(core::TMessageKind, const std::string& text) override
    {
        Err_ << "tarnwick-cli: " << text << '\n';
    }
    core::TAnswer Ask(core::TMessageKind, const std::string& text, const std::vector<core::TAnswer>&) override
    {
        throw std::logic_error("unexpected question: " + text);
    }

private:
    std::ostream& Err_;
};

// The command's error: the text goes to standard error, exit status 1.
int Fail(TCliStreams& io, const std::string& text)
{
    io.Err << "tarnwick-cli: " << text << '\n';
    return 1;
}

// Saves the list, merging what another program wrote since it was read; notes go to standard error.
void SaveList(classify::TAddressLists& lists, const std::string& folder, TListKind kind, TCliStreams& io)
{
    for (const std::string& note : lists.Save(folder, kind))
        io.Err << "tarnwick-cli: " << note << '\n';
}

int RunList(TListKind kind, std::span<const std::string> args, TCliStreams& io)
{
    const std::string listName = std::string(classify::ListName(kind)) + " list";
    if (args.empty())
        throw TUsageError("Say what to do: add, remove or show.");
    const std::string& action = args[0];
    const bool needsAddress = action == "add" || action == "remove";
    if (!needsAddress && action != "show")
        throw TUsageError("Unknown action \"" + action + "\".");
    if (args.size() != (needsAddress ? 2u : 1u))
        throw TUsageError(needsAddress ? action + " takes one address." : "show takes no address.");

    const std::string folder = core::Folders().DataFolder;
    classify::TAddressLists lists;
    TCliPrompter prompter(io.Err);
    lists.Load(folder, prompter);

    if (action == "show") {
        for (const auto& row : lists.Snapshot().Of(kind).Rows)
            io.Out << (row.Enabled ? "[x] " : "[ ] ") << row.Address << '\n';
        return 0;
    }
    const std::string& address = args[1];
    if (address.empty())
        throw TUsageError("The address is empty.");
    if (action == "add") {
        classify::TAddOutcome outcome{};
        lists.Change(kind, [&](classify::TAddressList& list, classify::TAddressList& other) {
            outcome = classify::AddAddress(list, other, address);
        });
        switch (outcome) {
        case classify::TAddOutcome::Added:
            break;
        case classify::TAddOutcome::InOtherList:
            return Fail(io, classify::AlreadyInListText(kind == TListKind::White ? TListKind::Black
                                                                                 : TListKind::White));
        case classify::TAddOutcome::InThisList:
            return Fail(io, classify::AlreadyInListText(kind));
        case classify::TAddOutcome::TooLong:
            return Fail(io, "The address is longer than 65535 bytes.");
        case classify::TAddOutcome::ListFull:
            return Fail(io, "The " + listName + " already holds 65535 addresses.");
        }
        SaveList(lists, folder, kind, io);
        io.Out << "Added \"" << address << "\" to the " << listName << ".\n";
        return 0;
    }
    bool removed = false;
    lists.Change(kind, [&](classify::TAddressList& list, classify::TAddressList&) {
        removed = classify::RemoveListed(list, address);
    });
    if (!removed)
        return Fail(io, "\"" + address + "\" is not in the " + listName + ".");
    SaveList(lists, folder, kind, io);
    io.Out << "Removed \"" << address << "\" from the " << listName << ".\n";
    return 0;
}

int BlackList(std::span<const std::string> args, TCliStreams& io)
{
    return RunList(TListKind::Black, args, io);
}

int WhiteList(std::span<const std::string> args, TCliStreams& io)
{
    return RunList(TListKind::White, args, io);
}

int Databases(std::span<const std::string> args, TCliStreams& io)
{
    if (args.empty())
        throw TUsageError("Say what to do: add, enable, disable, remove or show.");
    const std::string& action = args[0];
    const bool needsName = action == "add" || action == "enable" || action == "disable" || action == "remove";
    if (!needsName && action != "show")
        throw TUsageError("Unknown action \"" + action + "\".");
    if (args.size() != (needsName ? 2u : 1u))
        throw TUsageError(needsName ? action + " takes one server name." : "show takes no server name.");

    classify::TReadDatabaseSettings settings(classify::TReadDatabaseSettings::DefaultPath());
    settings.ReadServers();
    std::vector<classify::TDatabaseEntry> entries = settings.Entries();
    if (action == "show") {
        for (const auto& entry : entries)
            io.Out << (entry.Enabled() ? "[x] " : "[ ] ") << entry.Name << '\n';
        return 0;
    }

    const std::string name = core::Trim(args[1]);
    if (name.empty())
        throw TUsageError("The server name is empty.");
    const auto found = classify::FindDatabaseEntry(entries, name);
    if (action == "add") {
        if (!classify::AddDatabaseEntry(entries, args[1]))
            return Fail(io, "The spam database \"" + name + "\" is already in the list.");
        settings.WriteServers(entries);
        io.Out << "Added \"" << args[1] << "\" (disabled; enable it to use it).\n";
        return 0;
    }
    if (found == entries.end())
        return Fail(io, "The spam database \"" + name + "\" is not in the list.");
    if (action == "remove") {
        entries.erase(found);
        settings.WriteServers(entries);
        io.Out << "Removed \"" << name << "\".\n";
    } else {
        found->Value = action == "enable" ? "-1" : "0";
        settings.WriteServers(entries);
        io.Out << (action == "enable" ? "Enabled \"" : "Disabled \"") << found->Name << "\".\n";
    }
    return 0;
}

constexpr std::string_view ListHelpTail = R"(
  add ADDRESS     adds the address as an enabled row; refused when it is already
                  in this list or in the other one (in any letter case)
  remove ADDRESS  removes the first row with that address (in any letter case)
  show            prints one row per line: "[x] " for an enabled row, "[ ] " for
                  a disabled one, then the address

Addresses match in any letter case: A-Z before the last "@", and the domain
after it as domain names compare (also beyond ASCII, with or without a final
dot). The rows keep the addresses as they were entered.

The lists are the files "BlackList.scl" and "WhiteList.scl" in the data folder.
Messages from enabled black-list addresses are treated as spam on receiving;
messages from enabled white-list addresses are always good.
)";

const std::string BlackHelp = "Usage: tarnwick-cli list black add|remove ADDRESS\n"
                              "       tarnwick-cli list black show\n" +
                              std::string(ListHelpTail);
const std::string WhiteHelp = "Usage: tarnwick-cli list white add|remove ADDRESS\n"
                              "       tarnwick-cli list white show\n" +
                              std::string(ListHelpTail);

const TCliCommand Commands[] = {
    {"list black", "add, remove or show black-list addresses", BlackHelp, BlackList},
    {"list white", "add, remove or show white-list addresses", WhiteHelp, WhiteList},
    {"databases", "add, enable, disable, remove or show spam databases",
     R"(Usage: tarnwick-cli databases add|enable|disable|remove NAME
       tarnwick-cli databases show

Spam databases are DNS block lists, named by their zone (for example
"bl.example.org"), kept in "Databases.ini" in the data folder.
  add NAME      appends the server, disabled: it takes part in no lookup until
                it is enabled; refused when it is already listed (any case)
  enable NAME   uses the server from the next receive on
  disable NAME  keeps the server in the list without using it
  remove NAME   deletes the server from the list
  show          prints one server per line: "[x] " enabled, "[ ] " disabled

Before each receive every enabled server is tested with the test points
2.0.0.127 (must be listed) and 1.0.0.127 (must not); a server that fails is
left out of that receive.
)",
     Databases},
};

} // namespace

std::span<const TCliCommand> ListCommands()
{
    return Commands;
}

} // namespace tarnwick::app
