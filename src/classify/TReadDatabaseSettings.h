#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Errors.h"

namespace tarnwick::classify {

inline constexpr const char* DatabasesFileName = "Databases.ini";
inline constexpr const char* DatabasesSection = "Databases";
// The text of the error box shown when the spam-database file cannot be read.
inline constexpr std::string_view FileCannotBeRead = "File can not be read !!!";

// The error of reading the list: its text is the box's "File can not be read !!!", and Cause() gives
// the file and the system's reason, for the line below it.
class TDatabaseReadError : public core::TFileError
{
public:
    explicit TDatabaseReadError(std::string cause)
        : core::TFileError(std::string(FileCannotBeRead))
        , Cause_(std::move(cause))
    {}
    const std::string& Cause() const noexcept { return Cause_; }

private:
    std::string Cause_;
};

// True for a value that switches a spam database on: a non-zero decimal number (the program
// writes "-1") or "True" in any letter case. Zero, "False" and anything else switch it off.
bool ReadsAsEnabled(std::string_view value);

struct TDatabaseEntry
{
    std::string Name;  // the server's zone, e.g. "bl.example.org"
    std::string Value; // as stored; the program writes "-1" (on) and "0" (off)

    bool Enabled() const { return ReadsAsEnabled(Value); }
    bool operator==(const TDatabaseEntry&) const = default;
};

// True when the file can give `name` back as it was written: not empty after trimming, no "=" or
// control character in it, and not starting with what opens a section or a comment.
bool IsStorableServerName(std::string_view name);
// The error for a name that is not storable: "The server name "NAME" cannot be stored in
// Databases.ini."
std::string NotStorableText(std::string_view name);

// The settings dialog's Add: a name that is empty after trimming adds nothing; otherwise, when no
// entry has the trimmed name (in any letter case), the name as typed is appended, disabled, so that
// it takes part in no lookup until it is enabled. True when an entry was appended.
bool AddDatabaseEntry(std::vector<TDatabaseEntry>& entries, std::string_view typed);
// The entry whose name is `name` trimmed, in any letter case; end() when there is none.
std::vector<TDatabaseEntry>::iterator FindDatabaseEntry(std::vector<TDatabaseEntry>& entries,
                                                        std::string_view name);

// The reader and writer of the spam-database list, the section "Databases" of "Databases.ini" in the
// data folder: one entry per server, the zone as the key, its state as the value, in file order.
class TReadDatabaseSettings
{
public:
    explicit TReadDatabaseSettings(std::string path);
    // The file in the program's data folder.
    static std::string DefaultPath();

    const std::string& Path() const { return Path_; }

    // Fills the entries from the file's "Databases" section. No file or no section gives no entries.
    // Lines without "=" are ignored; of entries with the same name (in any letter case) the first
    // counts. Throws TDatabaseReadError when the file cannot be read; the entries are then empty.
    void ReadServers();
    // The entries as texts "name=value".
    void GetServers(std::vector<std::string>& list) const;
    const std::vector<TDatabaseEntry>& Entries() const { return Entries_; }
    // The names of the enabled entries, in order.
    std::vector<std::string> EnabledServers() const;

    // Replaces the whole section by the entries, each written as name "=" "-1" or "0"; with no
    // entries the file is left without the section. Other sections stay as they were. Throws
    // TFileError, before anything is written when a name is not storable.
    void WriteServers(const std::vector<TDatabaseEntry>& entries);

private:
    std::string Path_;
    std::vector<TDatabaseEntry> Entries_;
};

} // namespace tarnwick::classify
