#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::core {

class TRegistry;

inline constexpr const char* TarnwickKey = "\\Software\\Orvalent\\Tarnwick";
inline constexpr const char* OptionsKey = "\\Software\\Orvalent\\Tarnwick\\Options";

// The program-wide options. Flags are kept as the text stored and count as on only when the text
// is exactly "1" (see IsOn).
struct TOptionRec
{
    std::string RuleCase;
    std::string WholeWordsOnly;
    std::string AutoReceive;
    std::int32_t TimeOut = 0; // index into the connect time-out table, 0..5
    std::string RAlwaysonTop;
    std::string AutoscrollonAdd;
    std::int32_t DownloadSpeed = 0; // download speed level, 0..4
    std::string AlwaysFullMessage;
    std::int32_t CacheLimit = 0;
    std::string ClearCache;
    std::string CacheDir;
    std::string ConfirmEmptyTrash;
    std::string ConfirmRemoveRule;
    std::string ConfirmRemoveUser;
    std::string ConfirmRemoveAddress;
    std::string ConfirmExitUserWizard;
    std::string WarnAddressInList;
    std::string WarnTrashNotEmpty;
    std::string TrashNotEmptyAfterReceive;
    std::string IndividualButtons;
    bool UseDefaultMessage = false;
    std::int32_t ResponseAction = 0; // unknown sender: 0 trash, 1 mark questionable
    std::int32_t DatabaseAction = 0; // listed sender or relay: 0 trash, 1 mark as spam
    std::string AddressBookPath;     // a vCard file or folder; empty: the desktop's usual places

    bool operator==(const TOptionRec&) const = default;
};

inline bool IsOn(std::string_view flag)
{
    return flag == "1";
}

inline constexpr std::int32_t MaxTimeOut = 5;
inline constexpr std::int32_t MaxDownloadSpeed = 4;

// Connect time-out in milliseconds and number of parallel connections of the option values.
std::int32_t TimeoutMsOf(std::int32_t timeOut);
std::int32_t ConnectionsOf(std::int32_t downloadSpeed);

// An option value that could not be read, and the default used instead.
struct TUnreadableOption
{
    std::string Name;    // the value's name in the Options key
    std::string Reason;  // "it is missing", "it is not stored as a number", ...
    std::string Default; // the default as stored
};

// What reading the options found.
struct TOptionsRead
{
    bool Found = false; // the Options key exists
    std::vector<TUnreadableOption> Unreadable;
    bool Complete() const { return Found && Unreadable.empty(); }
};

// The options a first start stores (CacheDir aside, which is the caller's).
TOptionRec DefaultOptions(std::string_view defaultCacheDir);
// Fills `rec` from the Options key, every value on its own: one that cannot be read (a number
// missing or stored as text, a text stored with another kind) takes its default and is listed, the
// others keep their stored values. A missing key reads nothing and leaves `rec` as it was.
TOptionsRead ReadOptionsReporting(TRegistry& registry, TOptionRec& rec, std::string_view defaultCacheDir);
// The same; true when the key exists and every value was read.
bool ReadOptions(TRegistry& registry, TOptionRec& rec);
// The notice for the user about an option that could not be read.
std::string UnreadableOptionText(const TUnreadableOption& option);
// Writes every field of `rec`.
void WriteOptions(TRegistry& registry, const TOptionRec& rec);
// Writes the default of every option (and resets the options of an existing store).
void WriteDefaultOptions(TRegistry& registry, std::string_view defaultCacheDir);

} // namespace tarnwick::core
