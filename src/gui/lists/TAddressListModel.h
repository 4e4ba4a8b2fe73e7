#pragma once

#include <functional>
#include <memory>

#include <QAbstractListModel>

#include "classify/TAddressList.h"

namespace tarnwick::classify {
class TAddressLists;
}

namespace tarnwick::gui {

// The rows of one published address list for a list window: one column "Addresses", a check box
// per row (the row's Enabled) and the address text, editable in place. The model holds the list's
// snapshot, so opening a window costs nothing per row; every change goes through the lists'
// copy-change-publish and the model then shows the list as published.
class TAddressListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    TAddressListModel(classify::TAddressLists& lists, classify::TListKind kind, QObject* parent = nullptr);

    classify::TListKind Kind() const { return Kind_; }
    const classify::TAddressList& List() const { return *List_; }

    // Takes the list as published now. A list of the same length keeps the rows and their selection
    // (its cells are shown anew); any other list resets the model.
    void Reload();
    // Changes the list (the one shown, and the other one) through the lists and shows the result.
    void
    Change(const std::function<void(classify::TAddressList& list, classify::TAddressList& other)>& change);
    // Sets the check mark of every row.
    void SetAllEnabled(bool enabled);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Qt::CheckStateRole sets the row's Enabled; Qt::EditRole its address, taken unchanged.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

signals:
    // The in-place edit gave a row a new address; `row` is where it stands now (the white list is
    // sorted again).
    void AddressEdited(int row);
    // An edit was refused; `reason` says why.
    void EditRefused(const QString& reason);

private:
    classify::TAddressLists& Lists_;
    classify::TListKind Kind_;
    std::shared_ptr<const classify::TAddressList> List_;
};

} // namespace tarnwick::gui
