#include "TReadDatabaseSettings.h"

#include <algorithm>

#include "core/Errors.h"
#include "core/Modules.h"
#include "core/TIniFile.h"
#include "core/TextUtils.h"

namespace tarnwick::classify {

bool ReadsAsEnabled(std::string_view value)
{
    std::string_view text = value;
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    if (core::AsciiEqualNoCase(text, "true"))
        return true;
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+'))
        digits.remove_prefix(1);
    if (digits.empty())
        return false;
    bool nonZero = false;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false; // neither a number nor "True": off
        nonZero = nonZero || c != '0';
    }
    return nonZero;
}

std::vector<TDatabaseEntry>::iterator FindDatabaseEntry(std::vector<TDatabaseEntry>& entries,
                                                        std::string_view name)
{
    const std::string trimmed = core::Trim(name);
    return std::find_if(entries.begin(), entries.end(), [&](const TDatabaseEntry& entry) {
        return core::AsciiEqualNoCase(core::Trim(entry.Name), trimmed);
    });
}

bool AddDatabaseEntry(std::vector<TDatabaseEntry>& entries, std::string_view typed)
{
    if (core::Trim(typed).empty() || FindDatabaseEntry(entries, typed) != entries.end())
        return false;
    entries.push_back({std::string(typed), "0"});
    return true;
}

bool IsStorableServerName(std::string_view name)
{
    const std::string trimmed = core::Trim(name);
    bool storable = !trimmed.empty() && trimmed.front() != '[' && trimmed.front() != ';' &&
                    trimmed.front() != '#' && name.find('=') == std::string_view::npos;
    for (const char c : name)
        storable = storable && static_cast<unsigned char>(c) >= ' ';
    return storable;
}

std::string NotStorableText(std::string_view name)
{
    return "The server name \"" + std::string(name) + "\" cannot be stored in " + DatabasesFileName + ".";
}

TReadDatabaseSettings::TReadDatabaseSettings(std::string path)
    : Path_(std::move(path))
{}

std::string TReadDatabaseSettings::DefaultPath()
{
    return core::Folders().DataFolder + DatabasesFileName;
}

void TReadDatabaseSettings::ReadServers()
{
    Entries_.clear();
    core::TIniFile ini;
    try {
        ini = core::TIniFile::Load(Path_);
    } catch (const core::TFileError& e) {
        throw TDatabaseReadError(e.what());
    }
    for (auto& entry : ini.Entries(DatabasesSection)) {
        bool seen = false;
        for (const auto& known : Entries_)
            seen = seen || core::AsciiEqualNoCase(known.Name, entry.Key);
        if (!seen)
            Entries_.push_back({std::move(entry.Key), std::move(entry.Value)});
    }
}

void TReadDatabaseSettings::GetServers(std::vector<std::string>& list) const
{
    list.clear();
    for (const auto& entry : Entries_)
        list.push_back(entry.Name + "=" + entry.Value);
}

std::vector<std::string> TReadDatabaseSettings::EnabledServers() const
{
    std::vector<std::string> servers;
    for (const auto& entry : Entries_)
        if (entry.Enabled())
            servers.push_back(entry.Name);
    return servers;
}

void TReadDatabaseSettings::WriteServers(const std::vector<TDatabaseEntry>& entries)
{
    // A name that the file could not give back as it was is refused before anything is written.
    for (const auto& entry : entries)
        if (!IsStorableServerName(entry.Name))
            throw core::TFileError(NotStorableText(entry.Name));
    core::TIniFile ini = core::TIniFile::Load(Path_);
    ini.RemoveSection(DatabasesSection);
    for (const auto& entry : entries)
        ini.SetValue(DatabasesSection, entry.Name, entry.Enabled() ? "-1" : "0");
    ini.Save(Path_);
    Entries_.clear();
    for (const auto& entry : entries)
        Entries_.push_back({entry.Name, entry.Enabled() ? "-1" : "0"});
}

} // namespace tarnwick::classify
