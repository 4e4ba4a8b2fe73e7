#pragma once

#include <cstddef>
#include <optional>

#include "accounts/TMailMessage.h"

namespace tarnwick::accounts {
class TUser;
}

namespace tarnwick::gui {

class TMessageListModel;

// A message that a window shows, kept so that the window can tell whether it is still in the
// account's list: the record's address, only ever compared and never followed, and a copy of the
// record taken when it was shown. A record counts as the same one when a live record has the same
// address and the same header lines, so a new record that happens to reuse a freed address is not
// taken for it.
struct TRecordRef
{
    const accounts::TMailMessage* Id = nullptr;
    accounts::TMailMessage Copy;

    bool Empty() const { return Id == nullptr; }
};

// The reference of the record at `index` of the user's list; empty for an emptied slot. Takes the
// download lock.
TRecordRef RefOf(const accounts::TUser& user, std::size_t index);
// The index of the referenced record in the user's list, when it is still there. The caller holds
// the download lock.
std::optional<std::size_t> FindRecord(const accounts::TUser& user, const TRecordRef& ref);
// The row of `model` that shows the referenced record, or -1. Takes the download lock.
int RowOf(const TMessageListModel& model, const TRecordRef& ref);

} // namespace tarnwick::gui
