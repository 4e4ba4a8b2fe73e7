#include "gui/message/TSaveMessage.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace tarnwick::gui {

QString RunSaveDialog(QWidget* parent, const TSaveRequest& request)
{
    QFileDialog dialog(parent, request.Title, request.Proposed, request.Filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(request.Proposed);
    if (!request.DefaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.DefaultSuffix);
    if (!request.ConfirmOverwrite)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

std::string MoveMessageFile(const QString& from, const QString& to, bool replace)
{
    const QString target = QFileInfo(to).absoluteFilePath();
    if (QFileInfo(from).absoluteFilePath() == target)
        return {};
    if (QFileInfo::exists(target)) {
        if (!replace)
            return "The file " + target.toStdString() + " already exists.";
        QFile existing(target);
        if (!existing.remove())
            return "The file " + target.toStdString() +
                   " could not be replaced: " + existing.errorString().toStdString();
    }
    QFile file(from);
    if (!file.rename(target))
        return "The message could not be saved as " + target.toStdString() + ": " +
               file.errorString().toStdString();
    return {};
}

} // namespace tarnwick::gui
