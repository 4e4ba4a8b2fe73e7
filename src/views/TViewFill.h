#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "rules/TRuleMatcher.h"

namespace tarnwick::core {
class TRegistry;
class TPrompter;
} // namespace tarnwick::core

namespace tarnwick::accounts {
class TUser;
}

namespace tarnwick::views {

// A row of the message list: the record's index in the account's list and its server number.
struct TRowKey
{
    std::size_t RecordIndex = 0;
    std::int32_t Number = 0;
    bool operator==(const TRowKey&) const = default;
};

enum class TFillEnd
{
    Completed,
    Stopped,   // StopView was set
    Abandoned, // the view gave up: no character set, or the user declined the full-message question
    NoList,    // the node shows a page, not a list; the list keeps its rows
};

struct TFillResult
{
    std::vector<TRowKey> Rows;
    TFillEnd End = TFillEnd::Completed;
};

// What a fill needs besides the account.
struct TViewInputs
{
    core::TRegistry* Registry = nullptr; // advanced-view settings; storing a disabled rule
    core::TPrompter* Prompter = nullptr; // warnings and the full-message question
    std::vector<std::string> WhiteList;  // enabled white-list texts
    std::vector<std::string> BlackList;  // enabled black-list texts
    rules::TMatchSettings Match;         // rule options, cache folder, account names
    std::string DataFolder;              // holds "Characters.dat"
    // The enabled state shown by a rule node or "User Filters"; when unset, the rule's Enabled or
    // the list's UserFiltersEnabled.
    std::optional<bool> NodeEnabled;
    // Called before each record (or entry of the duplicates list) with its index and the number of
    // records; the program lets pending events run here, which is where StopView gets set.
    std::function<void(std::size_t index, std::size_t total)> Progress;
    // Called for each row as it is added.
    std::function<void(const TRowKey&)> OnRow;
};

// Fills the rows of the view at a folder-tree position (1 all, 2 trash, 4-6 basic, 8-13 advanced,
// 14 all rules, 15+k rule k) from the account's messages in list order. Tests StopView before each
// record and clears it when the fill ends, in every case. Throws core::TConversionError when the
// advanced settings cannot be converted (StopView is cleared all the same).
TFillResult FillView(accounts::TUser& user, int position, TViewInputs& inputs);

} // namespace tarnwick::views
