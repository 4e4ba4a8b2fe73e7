#pragma once

#include <functional>
#include <string>

#include <QString>

class QWidget;

namespace tarnwick::gui {

// What the save dialog of a message asks for.
struct TSaveRequest
{
    QString Title;
    QString Proposed; // the proposed path
    QString Filter;   // "Mail (*.eml)"
    QString DefaultSuffix;
    bool ConfirmOverwrite = true;
};

// Asks for the name to save a message under; empty on Cancel. Tests give their own.
using TSaveDialog = std::function<QString(QWidget* parent, const TSaveRequest& request)>;

// The desktop's save dialog.
QString RunSaveDialog(QWidget* parent, const TSaveRequest& request);

// Moves a message file from the cache to `to`, replacing a file there when `replace`. Empty when
// it moved, otherwise what went wrong, naming the file and the system's reason. Works across file
// systems (copy, then remove).
std::string MoveMessageFile(const QString& from, const QString& to, bool replace);

} // namespace tarnwick::gui
