#include "gui/main/TFromDelegate.h"

#include "gui/main/TMessageListModel.h"

namespace tarnwick::gui {

void TFromDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() != TMessageListModel::ColFrom || !option->text.isEmpty())
        return;
    const QString address = index.data(TMessageListModel::AddressRole).toString();
    if (address.isEmpty())
        return;
    option->text = address;
    const QColor muted = option->palette.color(QPalette::Disabled, QPalette::Text);
    option->palette.setColor(QPalette::Text, muted);
    option->palette.setColor(QPalette::HighlightedText,
                             option->palette.color(QPalette::Disabled, QPalette::HighlightedText));
    option->font.setItalic(true);
}

} // namespace tarnwick::gui
