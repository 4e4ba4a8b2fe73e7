// The INI reader on arbitrary text: parsing keeps every line, so the text comes back as it was
// (with its line ends made uniform), and changing a section leaves a file that parses again.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/TIniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using tarnwick::core::TIniFile;
    const std::string text(reinterpret_cast<const char*>(data), size);
    TIniFile ini = TIniFile::Parse(text);
    const std::string once = ini.Text();
    if (TIniFile::Parse(once).Text() != once)
        std::abort();
    for (const auto& entry : ini.Entries("Databases"))
        if (entry.Key.empty())
            std::abort();
    ini.RemoveSection("Databases");
    if (ini.HasSection("Databases"))
        std::abort();
    ini.SetValue("Databases", "bl.example.org", "-1");
    const auto entries = TIniFile::Parse(ini.Text()).Entries("Databases");
    if (entries.size() != 1 || entries[0].Key != "bl.example.org" || entries[0].Value != "-1")
        std::abort();
    return 0;
}
