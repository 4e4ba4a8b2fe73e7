#include "TImages.h"

#include <QApplication>
#include <QPixmap>
#include <QStyle>

namespace tarnwick::gui {

namespace {

struct TImageEntry
{
    TImageList List;
    int Number;
    const char* ThemeName; // empty: the empty image
    QStyle::StandardPixmap Fallback;
};

// One table for every numbered image of the main window.
const TImageEntry Images[] = {
    {TImageList::Toolbar, 0, "list-remove", QStyle::SP_DialogCancelButton},
    {TImageList::Toolbar, 1, "list-add", QStyle::SP_DialogApplyButton},
    {TImageList::Toolbar, 2, "edit-delete", QStyle::SP_TrashIcon},
    {TImageList::Toolbar, 3, "mail-send", QStyle::SP_ArrowRight},
    {TImageList::Toolbar, 4, "mail-send-receive", QStyle::SP_BrowserReload},
    {TImageList::Toolbar, 5, "user-trash-full", QStyle::SP_TrashIcon},
    {TImageList::Toolbar, 6, "edit-find", QStyle::SP_FileDialogContentsView},
    {TImageList::Toolbar, 7, "mail-message-new", QStyle::SP_FileDialogDetailedView},
    {TImageList::Toolbar, 8, "software-update-available", QStyle::SP_ArrowUp},
    {TImageList::Tree, 0, "mail-inbox", QStyle::SP_DirHomeIcon},
    {TImageList::Tree, 1, "user-trash", QStyle::SP_TrashIcon},
    {TImageList::Tree, 2, "emblem-default", QStyle::SP_DialogApplyButton},
    {TImageList::Tree, 3, "action-unavailable", QStyle::SP_DialogCancelButton},
    {TImageList::Tree, 4, "avatar-default", QStyle::SP_ComputerIcon},
    {TImageList::Tree, 5, "folder", QStyle::SP_DirIcon},
    {TImageList::Tree, 6, "mail-mark-notjunk", QStyle::SP_DialogYesButton},
    {TImageList::Tree, 7, "mail-mark-junk", QStyle::SP_MessageBoxCritical},
    {TImageList::Tree, 8, "dialog-question", QStyle::SP_MessageBoxQuestion},
    {TImageList::Tree, 9, "folder-saved-search", QStyle::SP_DirOpenIcon},
    {TImageList::Tree, 10, "edit-copy", QStyle::SP_FileLinkIcon},
    {TImageList::Tree, 11, "mail-attachment", QStyle::SP_FileIcon},
    {TImageList::Tree, 12, "mail-mark-important", QStyle::SP_MessageBoxWarning},
    {TImageList::Tree, 13, "preferences-desktop-locale", QStyle::SP_DriveNetIcon},
    {TImageList::Tree, 14, "dialog-error", QStyle::SP_MessageBoxCritical},
    {TImageList::Tree, 15, "drive-harddisk", QStyle::SP_DriveHDIcon},
    {TImageList::Message, 0, "mail-mark-important", QStyle::SP_MessageBoxWarning},
    {TImageList::Message, 1, "mail-attachment", QStyle::SP_FileIcon},
    {TImageList::Message, 2, "view-sort-descending", QStyle::SP_ArrowDown},
    {TImageList::Message, 3, "view-sort-ascending", QStyle::SP_ArrowUp},
    {TImageList::Message, 4, "go-down", QStyle::SP_ArrowDown},
    {TImageList::Message, 5, "", QStyle::SP_CustomBase},
    {TImageList::Message, 6, "emblem-important", QStyle::SP_MessageBoxWarning},
};

QIcon EmptyIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    return QIcon(pixmap);
}

} // namespace

QIcon ImageOf(TImageList list, int number)
{
    for (const auto& entry : Images) {
        if (entry.List != list || entry.Number != number)
            continue;
        if (entry.ThemeName[0] == '\0')
            return EmptyIcon();
        const QString name = QString::fromLatin1(entry.ThemeName);
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
        return QApplication::style()->standardIcon(entry.Fallback);
    }
    return EmptyIcon();
}

} // namespace tarnwick::gui
