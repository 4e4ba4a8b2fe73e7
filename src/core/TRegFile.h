#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "TRegistry.h"

namespace tarnwick::core {

struct TRegImportResult
{
    int Keys = 0;   // key lines taken
    int Values = 0; // values written or deleted
    std::vector<std::string> Warnings;
};

// Windows ".reg" text ("Windows Registry Editor Version 5.00") for any key tree of the store: the
// backup and transfer format of the settings, and the form of the test fixtures.
class TRegFile
{
public:
    // The key tree at `keyPath` ("\Software\...", "Software\..." or "HKEY_CURRENT_USER\Software\...")
    // as UTF-8 ".reg" text with CRLF line ends. Throws TStoreError when the key does not exist.
    static std::string Export(TRegistry& registry, std::string_view keyPath);

    // Imports UTF-8 (with or without BOM) or UTF-16LE-with-BOM ".reg" text in one transaction. Keys of
    // HKEY_CURRENT_USER are taken; keys of other hives are skipped with a warning. A malformed line
    // throws TFileError naming `sourceName` and the line number, and nothing is imported.
    static TRegImportResult Import(TRegistry& registry, std::string_view content,
                                   std::string_view sourceName);

    static void ExportToFile(TRegistry& registry, std::string_view keyPath, const std::string& file);
    static TRegImportResult ImportFile(TRegistry& registry, const std::string& file);

    // Strips "HKEY_CURRENT_USER" or "HKCU" from the front of a key path, giving a path from the root.
    static std::string StoreKeyPath(std::string_view keyPath);
};

} // namespace tarnwick::core
