#include "TTrash.h"

#include <algorithm>
#include <mutex>

#include "DownloadLock.h"
#include "TDeleteMail.h"

namespace tarnwick::engine {

namespace {

bool AnyTrashed(const accounts::TUser& user)
{
    for (std::size_t i = 0; i < user.Mails.Count(); ++i)
        if (const accounts::TMailMessage* record = user.Mails.At(i); record && record->Trashed)
            return true;
    return false;
}

} // namespace

void TrashMessages(accounts::TUser& user, const std::vector<std::size_t>& indices)
{
    std::lock_guard lock(DownloadLock());
    for (const std::size_t index : indices)
        if (index < user.Mails.Count())
            if (accounts::TMailMessage* record = user.Mails.At(index)) {
                record->Trashed = true;
                user.TrashNotEmpty = true;
            }
}

void RestoreMessages(accounts::TUser& user, const std::vector<std::size_t>& indices)
{
    std::lock_guard lock(DownloadLock());
    for (const std::size_t index : indices)
        if (index < user.Mails.Count())
            if (accounts::TMailMessage* record = user.Mails.At(index))
                record->Trashed = false;
    user.TrashNotEmpty = AnyTrashed(user);
}

std::vector<std::size_t> TrashedIndices(const accounts::TUser& user)
{
    std::lock_guard lock(DownloadLock());
    std::vector<std::size_t> indices;
    for (std::size_t i = 0; i < user.Mails.Count(); ++i)
        if (const accounts::TMailMessage* record = user.Mails.At(i); record && record->Trashed)
            indices.push_back(i);
    std::stable_sort(indices.begin(), indices.end(), [&](std::size_t a, std::size_t b) {
        return user.Mails.At(a)->Number < user.Mails.At(b)->Number;
    });
    return indices;
}

void RemoveDeleted(accounts::TUser& user, const std::vector<std::size_t>& deleted)
{
    std::lock_guard lock(DownloadLock());
    std::vector<std::int32_t> numbers;
    for (const std::size_t index : deleted)
        if (index < user.Mails.Count() && user.Mails.At(index)) {
            numbers.push_back(user.Mails.At(index)->Number);
            user.Mails.Detach(index);
        }
    user.Mails.Pack();
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 0; i < user.Mails.Count(); ++i) {
        accounts::TMailMessage* record = user.Mails.At(i);
        const auto below = std::lower_bound(numbers.begin(), numbers.end(), record->Number) - numbers.begin();
        record->Number -= static_cast<std::int32_t>(below);
    }
    user.Mails.Sort(accounts::SortNumber);
    user.TrashNotEmpty = AnyTrashed(user);
    user.SyncedCount = static_cast<std::int32_t>(user.Mails.Count());
}

TEmptyTrashResult EmptyTrash(accounts::TUser& user, TDeleteMail& deletion, std::int32_t& serverCount)
{
    TEmptyTrashResult result;
    if (!user.TrashNotEmpty)
        return result;
    const std::vector<std::size_t> rows = TrashedIndices(user);
    if (!deletion.Delete(rows, serverCount))
        return result;
    result.Ran = true;
    result.Deleted = deletion.DeletedRows().size();
    result.Kept = rows.size() - result.Deleted;
    RemoveDeleted(user, deletion.DeletedRows());
    return result;
}

} // namespace tarnwick::engine
