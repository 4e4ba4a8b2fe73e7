#include "gui/attach/TAttachmentMenu.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMimeDatabase>
#include <QStyle>

#include "mime/TDecodeAttach.h"

namespace tarnwick::gui {

QIcon AttachmentIcon(const QString& name)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    // The type's own icon, its family's, or at least the style's file icon.
    const QIcon generic =
        QIcon::fromTheme(type.genericIconName(), QApplication::style()->standardIcon(QStyle::SP_FileIcon));
    return QIcon::fromTheme(type.iconName(), generic);
}

void FillAttachmentMenu(QMenu& menu, const mime::TDecodeAttach& decoder, const std::function<void()>& save)
{
    menu.clear();
    for (const auto& entry : decoder.Attachments()) {
        const QString name = QString::fromStdString(entry.Name);
        // A "&" in the name is shown, not taken for a shortcut mark.
        QString caption = name;
        caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
        menu.addAction(AttachmentIcon(name), caption);
    }
    menu.addSeparator();
    QAction* saveAction = menu.addAction(QStringLiteral("&Save Attachments..."));
    saveAction->setObjectName(QStringLiteral("SaveAttachments"));
    saveAction->setEnabled(decoder.HasAttachments());
    QObject::connect(saveAction, &QAction::triggered, &menu, [save] { save(); });
}

} // namespace tarnwick::gui
