#pragma once

#include <string>

#include <QString>
#include <QStringList>

namespace tarnwick::gui {

// How a start of the contacts program went: started, or the text for the user.
struct TContactsStart
{
    bool Started = false;
    std::string Message;
};

// The desktop's contacts program: the default handler of vCard files as xdg-mime names it, found
// as a desktop file in $XDG_DATA_HOME/applications or one of $XDG_DATA_DIRS/applications, and
// started from its Exec line.
class TContactsProgram
{
public:
    explicit TContactsProgram(int queryTimeoutMs = 3000)
        : QueryTimeoutMs_(queryTimeoutMs)
    {}

    // The desktop file id xdg-mime gives for text/vcard (or text/x-vcard); empty when xdg-mime is
    // missing, answers nothing, fails or takes longer than the time-out.
    QString DesktopId() const;
    // The desktop file of an id; empty when no folder holds it. An id with dashes may also stand
    // for a file in subfolders ("kde-contacts.desktop" is "kde/contacts.desktop").
    static QString DesktopFile(const QString& id);
    // The Exec value of a desktop file's [Desktop Entry] group; empty when there is none.
    static QString ExecLine(const QString& desktopFile);
    // The program and its arguments of an Exec value: field codes (%f %F %u %U ...) removed, "%%"
    // a percent sign, double-quoted arguments with their backslash escapes honoured.
    static QStringList CommandOf(const QString& exec);

    // Finds the program and starts it detached.
    TContactsStart Start() const;

private:
    int QueryTimeoutMs_;
};

// What the user is told when there is no contacts program to start.
inline constexpr const char* NoContactsProgramText =
    "No contacts program is installed. Install a contacts program such as GNOME Contacts or "
    "KAddressBook and make it the desktop's program for contacts (vCard files), for example with "
    "\"xdg-mime default org.gnome.Contacts.desktop text/vcard\".";

} // namespace tarnwick::gui
