#pragma once

#include <cstddef>
#include <set>
#include <string_view>

#include "TAddressList.h"

namespace tarnwick::core {
class TPrompter;
struct TOptionRec;
} // namespace tarnwick::core

namespace tarnwick::classify {

inline constexpr std::string_view ConfirmDeleteAddress = "Are you sure you want to delete this address?";

// The list window's Add: AddAddress, and when the address is already in a list and the option
// WarnAddressInList is on, the warning naming that list (OK button only).
TAddOutcome AddWithWarning(TAddressList& list, const TAddressList& other, std::string_view text,
                           const core::TOptionRec& options, core::TPrompter& prompter);

// The list window's Remove and Delete key: with ConfirmRemoveAddress on, the question is asked
// (even when nothing is selected); on Yes, or without the question, the selected rows (indices) are
// deleted. Returns the number of rows deleted.
std::size_t RemoveSelected(TAddressList& list, const std::set<std::size_t>& selected,
                           const core::TOptionRec& options, core::TPrompter& prompter);

} // namespace tarnwick::classify
