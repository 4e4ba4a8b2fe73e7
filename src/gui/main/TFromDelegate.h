#pragma once

#include <QStyledItemDelegate>

namespace tarnwick::gui {

// Paints the message list's cells; a From cell without a display name shows the sender's address
// in a muted colour instead of staying blank. The cell's text, which sorting and Find read, stays
// the display name.
class TFromDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

} // namespace tarnwick::gui
