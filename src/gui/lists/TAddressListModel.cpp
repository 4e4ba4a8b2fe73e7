#include "gui/lists/TAddressListModel.h"

#include <algorithm>
#include <string>

#include "classify/TAddressLists.h"

namespace tarnwick::gui {

namespace {

QString Shown(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TAddressListModel::TAddressListModel(classify::TAddressLists& lists, classify::TListKind kind,
                                     QObject* parent)
    : QAbstractListModel(parent)
    , Lists_(lists)
    , Kind_(kind)
    , List_(kind == classify::TListKind::White ? lists.White() : lists.Black())
{}

void TAddressListModel::Reload()
{
    auto now = Kind_ == classify::TListKind::White ? Lists_.White() : Lists_.Black();
    if (now == List_)
        return;
    if (now->Rows.size() == List_->Rows.size()) {
        List_ = std::move(now);
        if (!List_->Rows.empty())
            emit dataChanged(index(0), index(rowCount() - 1),
                             {Qt::DisplayRole, Qt::EditRole, Qt::CheckStateRole});
        return;
    }
    beginResetModel();
    List_ = std::move(now);
    endResetModel();
}

void TAddressListModel::Change(
    const std::function<void(classify::TAddressList& list, classify::TAddressList& other)>& change)
{
    Lists_.Change(Kind_, change);
    Reload();
}

void TAddressListModel::SetAllEnabled(bool enabled)
{
    Change([enabled](classify::TAddressList& list, classify::TAddressList&) {
        for (auto& row : list.Rows)
            row.Enabled = enabled;
    });
}

int TAddressListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(List_->Rows.size());
}

QVariant TAddressListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const classify::TAddressRow& row = List_->Rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return Shown(row.Address);
    case Qt::CheckStateRole:
        return row.Enabled ? Qt::Checked : Qt::Unchecked;
    default:
        return {};
    }
}

QVariant TAddressListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return QStringLiteral("Addresses");
    return QAbstractListModel::headerData(section, orientation, role);
}

Qt::ItemFlags TAddressListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsEditable |
           Qt::ItemNeverHasChildren;
}

bool TAddressListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const auto at = static_cast<std::size_t>(index.row());
    // The row as this model shows it: the change finds it again in the list as it is then.
    const classify::TAddressRow shown = List_->Rows[at];
    classify::TAddressRow changed = shown;
    if (role == Qt::CheckStateRole) {
        changed.Enabled = value.toInt() == Qt::Checked;
    } else if (role == Qt::EditRole) {
        changed.Address = value.toString().toStdString();
        if (changed.Address.size() > classify::MaxListText) {
            emit EditRefused(
                QStringLiteral("The address is too long: a list holds addresses of at most %1 bytes.")
                    .arg(classify::MaxListText));
            return false;
        }
    } else {
        return false;
    }
    if (changed == shown)
        return true;
    bool found = false;
    Change([&](classify::TAddressList& list, classify::TAddressList&) {
        auto& rows = list.Rows;
        auto it = at < rows.size() && rows[at] == shown ? rows.begin() + static_cast<std::ptrdiff_t>(at)
                                                        : std::find(rows.begin(), rows.end(), shown);
        if (it == rows.end())
            return;
        *it = changed;
        found = true;
    });
    if (found && role == Qt::EditRole) {
        const auto& rows = List_->Rows;
        const auto it = std::find(rows.begin(), rows.end(), changed);
        if (it != rows.end())
            emit AddressEdited(static_cast<int>(it - rows.begin()));
    }
    return found;
}

} // namespace tarnwick::gui
