#include "gui/attach/TAttachmentMenu.h"

#include <QAction>
#include <QMenu>
#include <QMimeDatabase>

#include "mime/TDecodeAttach.h"

namespace tarnwick::gui {

QIcon AttachmentIcon(const QString& name)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
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
