#pragma once

#include <array>
#include <vector>

#include <QAbstractTableModel>
#include <QIcon>

#include "views/TViewFill.h"

namespace tarnwick::accounts {
class TUser;
}

namespace tarnwick::gui {

// The rows of lvMessages: one row key (record index, server number) per row, cells read from the
// current account's records.
class TMessageListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum TColumn : int
    {
        ColPriority,
        ColAttachments,
        ColFrom,
        ColSubject,
        ColSent,
        ColSize,
        ColTo,
        ColHidden,
        ColumnCount,
    };
    // The raw value a column sorts by (priority number, flag, text, milliseconds, bytes).
    static constexpr int SortValueRole = Qt::UserRole + 1;
    // The image number of a cell or of a header.
    static constexpr int ImageNumberRole = Qt::UserRole + 2;
    // The sender address as shown (look-alike domains in their ASCII form), for the From cell.
    static constexpr int AddressRole = Qt::UserRole + 3;

    explicit TMessageListModel(QObject* parent = nullptr);

    void SetUser(accounts::TUser* user);
    accounts::TUser* User() const { return User_; }

    void Clear();
    void AppendRows(const std::vector<views::TRowKey>& keys);
    const views::TRowKey& RowKey(int row) const { return Rows_.at(static_cast<std::size_t>(row)); }
    const std::vector<views::TRowKey>& Rows() const { return Rows_; }
    // Removes the given rows (any order, duplicates allowed), one contiguous block at a time from
    // the bottom up, so that the view keeps the selection and focus of the rows that stay.
    void RemoveRows(std::vector<int> rows);
    // The cells of one row show its record anew (after its subject changed).
    void RowChanged(int row);

    // The header image of a column: -1 none, 0 exclamation mark, 1 paper clip, 2 descending, 3 ascending.
    void SetHeaderImage(int column, int image);
    int HeaderImage(int column) const { return HeaderImages_.at(static_cast<std::size_t>(column)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    accounts::TUser* User_ = nullptr;
    std::vector<views::TRowKey> Rows_;
    std::array<int, ColumnCount> HeaderImages_{};
    std::array<QIcon, 7> Images_;
};

} // namespace tarnwick::gui
