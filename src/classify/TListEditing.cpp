#include "TListEditing.h"

#include "core/TOptionRec.h"
#include "core/TPrompter.h"

namespace tarnwick::classify {

TAddOutcome AddWithWarning(TAddressList& list, const TAddressList& other, std::string_view text,
                           const core::TOptionRec& options, core::TPrompter& prompter)
{
    const TAddOutcome outcome = AddAddress(list, other, text);
    if (core::IsOn(options.WarnAddressInList)) {
        if (outcome == TAddOutcome::InOtherList)
            prompter.Inform(core::TMessageKind::Warning, AlreadyInListText(other.Kind));
        else if (outcome == TAddOutcome::InThisList)
            prompter.Inform(core::TMessageKind::Warning, AlreadyInListText(list.Kind));
    }
    return outcome;
}

std::size_t RemoveSelected(TAddressList& list, const std::set<std::size_t>& selected,
                           const core::TOptionRec& options, core::TPrompter& prompter)
{
    if (core::IsOn(options.ConfirmRemoveAddress) &&
        prompter.Ask(core::TMessageKind::Confirmation, std::string(ConfirmDeleteAddress),
                     {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes)
        return 0;
    std::size_t removed = 0;
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) {
        if (*it < list.Rows.size()) {
            list.Rows.erase(list.Rows.begin() + static_cast<std::ptrdiff_t>(*it));
            ++removed;
        }
    }
    return removed;
}

} // namespace tarnwick::classify
