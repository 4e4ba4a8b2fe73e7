#include "gui/message/TRecordRef.h"

#include <mutex>

#include "accounts/TUser.h"
#include "engine/DownloadLock.h"
#include "gui/main/TMessageListModel.h"

namespace tarnwick::gui {

namespace {

bool Holds(const accounts::TUser& user, std::size_t index, const TRecordRef& ref)
{
    if (index >= user.Mails.Count())
        return false;
    const accounts::TMailMessage* record = user.Mails.At(index);
    return record != nullptr && record == ref.Id && record->Headers == ref.Copy.Headers;
}

} // namespace

TRecordRef RefOf(const accounts::TUser& user, std::size_t index)
{
    std::lock_guard lock(engine::DownloadLock());
    if (index >= user.Mails.Count())
        return {};
    const accounts::TMailMessage* record = user.Mails.At(index);
    if (record == nullptr)
        return {};
    return TRecordRef{record, *record};
}

std::optional<std::size_t> FindRecord(const accounts::TUser& user, const TRecordRef& ref)
{
    if (ref.Empty())
        return std::nullopt;
    for (std::size_t i = 0; i < user.Mails.Count(); ++i)
        if (Holds(user, i, ref))
            return i;
    return std::nullopt;
}

int RowOf(const TMessageListModel& model, const TRecordRef& ref)
{
    const accounts::TUser* user = model.User();
    if (user == nullptr || ref.Empty())
        return -1;
    std::lock_guard lock(engine::DownloadLock());
    const auto& rows = model.Rows();
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (Holds(*user, rows[row].RecordIndex, ref))
            return static_cast<int>(row);
    return -1;
}

} // namespace tarnwick::gui
