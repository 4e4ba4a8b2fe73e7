#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/TFolders.h"

namespace tarnwick::import {

// One listed entry of the address book: a person or a group.
struct TWabRow
{
    std::string DisplayName;
    std::string Email; // the preferred address; empty when the entry has none
    int RowNumber = 0; // counts listed rows only, from 0
    bool IsGroup = false;
    std::vector<std::string> Members; // a group's member addresses, in the group's order

    bool operator==(const TWabRow&) const = default;
};

// Bounds of one reading beyond those of a single text.
inline constexpr std::uintmax_t MaxAddressBookFile = 64u << 20; // bytes of one file
inline constexpr std::size_t MaxAddressBookFiles = 20000;       // files of a folder
inline constexpr int MaxAddressBookDepth = 8;                   // folder levels below the one given

struct TVCard;

// The rows of cards read: people and groups numbered in order, other kinds left out. Members given
// as "urn:uuid:" (or a bare UID) become the addresses of the people they name where those have
// one, "mailto:" members their address; each address once.
std::vector<TWabRow> WabRowsOf(const std::vector<TVCard>& cards);

// The user's address book: the option's path when set, else the first of
// $XDG_DATA_HOME/contacts (~/.local/share/contacts), ~/.local/share/evolution/addressbook and
// ~/.contacts that exists; empty when there is none.
std::string AddressBookPath(std::string_view optionPath, const core::TEnvironment& env);
// The same with the current options and the process's environment.
std::string AddressBookPath();

// The reader of the user's contacts: vCard files (2.1, 3.0, 4.0), one file or a folder of them,
// read-only. People and groups are listed in the order of their files (sorted by path) and of the
// cards inside; entries of other kinds (organisations, places) are not listed.
class TWab
{
public:
    // Reads a `.vcf` file or every `.vcf`/`.vcard` file below a folder. An empty path opens an
    // empty address book. Throws core::TFileError naming the file and the system's reason when a
    // file or folder cannot be read, and for a file larger than MaxAddressBookFile; the address
    // book opened before is kept then.
    void Open(const std::string& path);

    // Opens `path` and gives one row per person and group.
    void ListIntoRows(const std::string& path, std::vector<TWabRow>& rows);
    // Opens `path` and gives one line per person and group: display name + "=" + address.
    void ListIntoStrings(const std::string& path, std::vector<std::string>& lines);

    const std::string& Path() const { return Path_; }
    const std::vector<TWabRow>& Rows() const { return Rows_; }
    // Cards of the open address book that could not be read and were left out.
    std::size_t SkippedCards() const { return Skipped_; }

private:
    std::string Path_;
    std::vector<TWabRow> Rows_;
    std::size_t Skipped_ = 0;
};

} // namespace tarnwick::import
