#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "accounts/TUser.h"

namespace tarnwick::engine {

class TDeleteMail;

// The account's trash: the records of Mails whose Trashed flag is set. Indices are positions in
// Mails.
void TrashMessages(accounts::TUser& user, const std::vector<std::size_t>& indices);
// Clears Trashed on the records; TrashNotEmpty then says whether any trashed record is left.
void RestoreMessages(accounts::TUser& user, const std::vector<std::size_t>& indices);
// The trashed records in server order (by number).
std::vector<std::size_t> TrashedIndices(const accounts::TUser& user);

// Removes the records whose messages were deleted on the server and renumbers the others as the
// server does: each keeps its order and loses one for every deleted message numbered below it.
// The list ends sorted by number; TrashNotEmpty and SyncedCount follow.
void RemoveDeleted(accounts::TUser& user, const std::vector<std::size_t>& deleted);

struct TEmptyTrashResult
{
    bool Ran = false;        // the deletion session ran (false: empty trash, or refused)
    std::size_t Deleted = 0; // records removed
    std::size_t Kept = 0;    // trashed records kept (Stop, or refused by the server)
};

// Empties the trash: nothing when TrashNotEmpty is false; otherwise the deletion of every trashed
// record, then the local removal of those really deleted. Errors of the deletion propagate with
// the list unchanged.
TEmptyTrashResult EmptyTrash(accounts::TUser& user, TDeleteMail& deletion, std::int32_t& serverCount);

} // namespace tarnwick::engine
