#pragma once

#include <functional>

#include <QIcon>
#include <QString>

class QMenu;

namespace tarnwick::mime {
class TDecodeAttach;
}

namespace tarnwick::gui {

// The icon of a file type as the desktop theme shows it, found from the name's extension alone
// (no file is made or read for it); the type's generic icon when the theme has no own one.
QIcon AttachmentIcon(const QString& name);

// Fills `menu` anew with the decoder's attachments in their order (inert entries: opening a file a
// stranger sent is not offered), a separator and "&Save Attachments...", enabled only when there is
// an attachment; choosing it calls `save`.
void FillAttachmentMenu(QMenu& menu, const mime::TDecodeAttach& decoder, const std::function<void()>& save);

} // namespace tarnwick::gui
