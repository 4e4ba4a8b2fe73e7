#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "TAddressList.h"

namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::classify {

struct TImportSummary
{
    std::size_t Added = 0;   // rows added to the list (moved ones included)
    std::size_t Removed = 0; // rows taken out of the other list
    bool PhaseOneCancelled = false;
    bool PhaseTwoCancelled = false;
};

// The question asked when an imported address is in the other list, e.g. "This address is already
// in the White list. Do you want to move it to Black list ?" for an import into the black list.
std::string MoveQuestionText(TListKind target);

// Merges imported addresses into `list` in two phases: first the wizard's import list, then the
// senders collected from the chosen mail folders. Empty addresses are skipped. An address that is
// in the other list is moved only when the user agrees (Yes, or Yes to All, which like No to All
// holds for the rest of both phases); Cancel ends the current phase. Every other address is added
// when it is plausible and not yet in the list.
TImportSummary ImportAddresses(TAddressList& list, TAddressList& other, std::span<const std::string> phaseOne,
                               std::span<const std::string> phaseTwo, core::TPrompter& prompter);

} // namespace tarnwick::classify
