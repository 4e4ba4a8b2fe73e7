// tarnwick-cli settings export / import: the settings as Windows ".reg" text.

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "TCli.h"
#include "core/Modules.h"
#include "core/TRegFile.h"
#include "core/TRegistry.h"

namespace tarnwick::app {

namespace {

int Export(std::span<const std::string> args, TCliStreams& io)
{
    if (args.empty() || args.size() > 2)
        throw TUsageError("settings export takes a key and an optional file.");
    core::TRegistry registry(core::Hive());
    const std::string file = args.size() == 2 ? args[1] : "-";
    if (file == "-")
        io.Out << core::TRegFile::Export(registry, args[0]);
    else
        core::TRegFile::ExportToFile(registry, args[0], file);
    return 0;
}

int Import(std::span<const std::string> args, TCliStreams& io)
{
    if (args.size() != 1)
        throw TUsageError("settings import takes one file.");
    core::TRegistry registry(core::Hive());
    core::TRegImportResult result;
    if (args[0] == "-") {
        const std::string content{std::istreambuf_iterator<char>(io.In), std::istreambuf_iterator<char>()};
        result = core::TRegFile::Import(registry, content, "standard input");
    } else {
        result = core::TRegFile::ImportFile(registry, args[0]);
    }
    for (const auto& warning : result.Warnings)
        io.Err << "tarnwick-cli: warning: " << warning << '\n';
    io.Out << "Imported " << result.Keys << " key(s) and " << result.Values << " value(s).\n";
    return 0;
}

constexpr TCliCommand Commands[] = {
    {"settings export", "write a key tree of the settings as .reg text",
     R"(Usage: tarnwick-cli settings export KEY [FILE]

Writes the key KEY with all its values and subkeys as Windows ".reg" text
(UTF-8, "Windows Registry Editor Version 5.00") to FILE, or to standard output
when FILE is missing or "-". KEY is a path such as
  "\Software\Orvalent\Tarnwick"  or  "HKEY_CURRENT_USER\Software\Orvalent\Tarnwick".
Quote it: the shell treats backslashes specially.
)",
     Export},
    {"settings import", "read .reg text into the settings",
     R"(Usage: tarnwick-cli settings import FILE

Reads Windows ".reg" text from FILE ("-" for standard input) into the settings:
UTF-8, or UTF-16 with a byte order mark as Windows' Registry Editor writes it.
Keys of HKEY_CURRENT_USER are imported; keys of other hives are skipped with a
warning. A malformed line is reported with its line number and nothing is
imported.
)",
     Import},
};

} // namespace

std::span<const TCliCommand> SettingsCommands()
{
    return Commands;
}

} // namespace tarnwick::app
