#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "TAddressList.h"

namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::classify {

// The row file of the address lists ("LVF"): "LVF", a 16-bit row count, then per row a 16-bit
// sub-item count, a 32-bit check mark, a 16-bit address length and the address scrambled with the
// key "Pelk", followed by each sub-item as a 16-bit length and its bytes. All integers are
// little-endian; nothing is terminated.
inline constexpr std::string_view LvfSignature = "LVF";
inline constexpr std::string_view LvfScrambleKey = "Pelk";

struct TLvfReadResult
{
    enum class TStatus
    {
        Ok,
        BadSignature, // not "LVF": no rows
        Truncated,    // the file ends before its counts say: the rows read completely so far
    };
    TStatus Status = TStatus::Ok;
    std::vector<TAddressRow> Rows;
};

// Reads the bytes of a list file without ever reading past their end. A text ends at its first
// zero byte. Texts that are UTF-8 are kept; other bytes are taken as Windows-1252 (lists written by
// the Windows program) and converted to UTF-8.
TLvfReadResult ReadLvf(std::string_view bytes);
// The bytes of a list file for the rows. Throws TFileError when there are more than MaxListRows
// rows or sub-items, or a text longer than MaxListText bytes (a file could not say so).
std::string WriteLvf(const std::vector<TAddressRow>& rows);

// The two message templates of the list files; "%s" stands for the file name without its folder.
struct TLvfMessages
{
    std::string_view Missing;   // Msg1
    std::string_view Corrupted; // Msg2
};
// The texts both list windows use.
inline constexpr TLvfMessages ListWindowMessages{"File \"%s\" does not exist!", "\"%s\" was corupted!"};
// The list control's own defaults.
inline constexpr TLvfMessages ListControlMessages{"File \"%s\" does not exist!",
                                                  "\"%s\" is not a ListView file!"};

enum class TLoadOutcome
{
    Loaded,
    Missing,    // no file: the rows stay as they were
    Corrupted,  // wrong signature: the rows stay as they were
    Truncated,  // the rows read before the end replaced the list
    Unreadable, // the file exists but cannot be read: the rows stay as they were
};

// Loads a list file into `list` (sorting a white list). A missing file and a wrong signature are
// reported with an error box captioned "I/O Error" through the prompter; so are a truncated file
// (whose complete rows are kept) and an unreadable one.
TLoadOutcome LoadFromFile(TAddressList& list, const std::string& path, core::TPrompter& prompter,
                          const TLvfMessages& messages = ListWindowMessages);
// Writes the list's rows in display order, replacing the file atomically (WriteFileAtomically).
void SaveToFile(const TAddressList& list, const std::string& path);
// Replaces a file with the bytes so that a reader or a crash sees the old file or the new one whole:
// written to "<path>.tmp" in the same folder, synced, renamed over the file, the folder synced. A
// failure leaves the old file and throws TFileError naming the file and the system's reason.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// "%s" of a template replaced by a text.
std::string FormatMessage(std::string_view templ, std::string_view name);

} // namespace tarnwick::classify
