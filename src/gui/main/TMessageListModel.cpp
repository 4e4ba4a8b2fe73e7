#include "TMessageListModel.h"

#include <algorithm>
#include <mutex>

#include "accounts/TMailMessage.h"
#include "accounts/TUser.h"
#include "engine/DownloadLock.h"
#include "gui/common/TImages.h"
#include "mime/DisplayAddress.h"

namespace tarnwick::gui {

namespace {

const char* const Headers[TMessageListModel::ColumnCount] = {"",     "",     "From", "Subject",
                                                             "Sent", "Size", "To",   ""};

QString Text(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TMessageListModel::TMessageListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    HeaderImages_.fill(-1);
    HeaderImages_[ColPriority] = 0;
    HeaderImages_[ColAttachments] = 1;
    for (int i = 0; i < static_cast<int>(Images_.size()); ++i)
        Images_[static_cast<std::size_t>(i)] = ImageOf(TImageList::Message, i);
}

void TMessageListModel::SetUser(accounts::TUser* user)
{
    beginResetModel();
    User_ = user;
    Rows_.clear();
    endResetModel();
}

void TMessageListModel::Clear()
{
    if (Rows_.empty())
        return;
    beginRemoveRows({}, 0, static_cast<int>(Rows_.size()) - 1);
    Rows_.clear();
    endRemoveRows();
}

void TMessageListModel::AppendRows(const std::vector<views::TRowKey>& keys)
{
    if (keys.empty())
        return;
    const int first = static_cast<int>(Rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(keys.size()) - 1);
    Rows_.insert(Rows_.end(), keys.begin(), keys.end());
    endInsertRows();
}

void TMessageListModel::RemoveRows(std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(
        std::remove_if(rows.begin(), rows.end(), [this](int row) { return row < 0 || row >= rowCount(); }),
        rows.end());
    while (!rows.empty()) {
        const int last = rows.back();
        int first = last;
        rows.pop_back();
        while (!rows.empty() && rows.back() == first - 1) {
            first = rows.back();
            rows.pop_back();
        }
        beginRemoveRows({}, first, last);
        Rows_.erase(Rows_.begin() + first, Rows_.begin() + last + 1);
        endRemoveRows();
    }
}

void TMessageListModel::RowChanged(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void TMessageListModel::SetHeaderImage(int column, int image)
{
    auto& slot = HeaderImages_.at(static_cast<std::size_t>(column));
    if (slot == image)
        return;
    slot = image;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

int TMessageListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(Rows_.size());
}

int TMessageListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TMessageListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || User_ == nullptr)
        return {};
    const auto& key = Rows_[static_cast<std::size_t>(index.row())];
    const accounts::TMailMessage* m = nullptr;
    {
        // A receive may be adding records meanwhile; its workers never change a record once added.
        std::lock_guard lock(engine::DownloadLock());
        if (key.RecordIndex >= User_->Mails.Count())
            return {};
        m = User_->Mails.At(key.RecordIndex);
    }
    if (m == nullptr)
        return {};
    const int column = index.column();
    const int image = column == ColPriority      ? m->Priority
                      : column == ColAttachments ? (m->HasAttachments ? 1 : 5)
                                                 : -1;
    switch (role) {
    case AddressRole:
        return column == ColFrom ? Text(mime::DisplayAddress(m->FromAddress)) : QVariant();
    case Qt::ToolTipRole:
        // The sender's address, whatever name the message gives.
        if (column == ColFrom)
            return Text(mime::DisplayAddress(m->FromAddress));
        [[fallthrough]];
    case Qt::DisplayRole:
        switch (column) {
        case ColFrom:
            return Text(m->FromName);
        case ColSubject:
            return Text(m->Subject);
        case ColSent:
            return Text(accounts::SentText(m->Sent));
        case ColSize:
            return Text(accounts::SizeText(m->Size));
        case ColTo:
            return Text(m->ToText);
        default:
            return {};
        }
    case Qt::DecorationRole:
        if (image >= 0 && image < static_cast<int>(Images_.size()))
            return Images_[static_cast<std::size_t>(image)];
        return {};
    case ImageNumberRole:
        return image >= 0 ? QVariant(image) : QVariant();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(
            Qt::Alignment(column == ColSize || column == ColAttachments ? Qt::AlignRight : Qt::AlignLeft) |
            Qt::AlignVCenter);
    case SortValueRole:
        switch (column) {
        case ColPriority:
            return m->Priority;
        case ColAttachments:
            return m->HasAttachments;
        case ColFrom:
            return Text(m->FromName);
        case ColSubject:
            return Text(m->Subject);
        case ColSent:
            return static_cast<qlonglong>(m->Sent);
        case ColSize:
            return m->Size;
        case ColTo:
            return Text(m->ToText);
        default:
            return {};
        }
    default:
        return {};
    }
}

QVariant TMessageListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    const int image = HeaderImages_[static_cast<std::size_t>(section)];
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromLatin1(Headers[section]);
    case Qt::DecorationRole:
        if (image >= 0)
            return Images_[static_cast<std::size_t>(image)];
        return {};
    case ImageNumberRole:
        return image;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(section == ColSize ? Qt::AlignRight : Qt::AlignLeft) |
                                   Qt::AlignVCenter);
    default:
        return {};
    }
}

} // namespace tarnwick::gui
