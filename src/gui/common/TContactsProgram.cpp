#include "gui/common/TContactsProgram.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>

namespace tarnwick::gui {

namespace {

std::string Utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

// The folders that hold desktop files, the user's first.
QStringList ApplicationFolders()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share/:/usr/share/");
    QStringList folders{dataHome + QStringLiteral("/applications")};
    for (const QString& dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders << dir + QStringLiteral("/applications");
    return folders;
}

// A desktop file's string escapes: \s \n \t \r \\.
QString Unescaped(const QString& value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (next == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else
            out += QLatin1Char('\\') + QString(next);
    }
    return out;
}

} // namespace

QString TContactsProgram::DesktopId() const
{
    for (const QString& type : {QStringLiteral("text/vcard"), QStringLiteral("text/x-vcard")}) {
        QProcess query;
        query.setProgram(QStringLiteral("xdg-mime"));
        query.setArguments({QStringLiteral("query"), QStringLiteral("default"), type});
        query.setStandardInputFile(QProcess::nullDevice());
        query.start();
        if (!query.waitForStarted(QueryTimeoutMs_))
            return {}; // no xdg-mime
        if (!query.waitForFinished(QueryTimeoutMs_)) {
            query.kill();
            query.waitForFinished(1000);
            return {};
        }
        if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
            continue;
        const QString id =
            QString::fromUtf8(query.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0).trimmed();
        if (!id.isEmpty())
            return id;
    }
    return {};
}

QString TContactsProgram::DesktopFile(const QString& id)
{
    if (id.isEmpty() || id.contains(QLatin1Char('/')))
        return {};
    // "a-b-c.desktop" may be a-b-c.desktop, a/b-c.desktop, a/b/c.desktop.
    QStringList names{id};
    QString name = id;
    for (qsizetype dash = name.indexOf(QLatin1Char('-')); dash > 0;
         dash = name.indexOf(QLatin1Char('-'), dash)) {
        name[dash] = QLatin1Char('/');
        names << name;
    }
    for (const QString& folder : ApplicationFolders())
        for (const QString& candidate : names) {
            const QFileInfo file(folder + QLatin1Char('/') + candidate);
            if (file.isFile())
                return file.filePath();
        }
    return {};
}

QString TContactsProgram::ExecLine(const QString& desktopFile)
{
    QFile file(desktopFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QTextStream in(&file);
    bool inEntry = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inEntry)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && line.left(equals).trimmed() == QStringLiteral("Exec"))
            return Unescaped(line.mid(equals + 1).trimmed());
    }
    return {};
}

QStringList TContactsProgram::CommandOf(const QString& exec)
{
    QStringList arguments;
    QString current;
    bool inArgument = false; // something but blanks was seen since the last argument
    bool keep = false;       // the argument stays even when empty: quoted, or holding text
    const auto finish = [&] {
        if (inArgument && (keep || !current.isEmpty()))
            arguments << current;
        current.clear();
        inArgument = keep = false;
    };
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        const bool hasNext = i + 1 < exec.size();
        if (c == QLatin1Char('"')) {
            // Inside quotes a backslash escapes the next character and "%%" is a percent sign.
            inArgument = keep = true;
            for (++i; i < exec.size() && exec[i] != QLatin1Char('"'); ++i) {
                if ((exec[i] == QLatin1Char('\\') || exec[i] == QLatin1Char('%')) && i + 1 < exec.size() &&
                    (exec[i] == QLatin1Char('\\') || exec[i + 1] == QLatin1Char('%')))
                    ++i;
                current += exec[i];
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            finish();
        } else if (c == QLatin1Char('%') && hasNext) {
            // A field code (%f %F %u %U %i %c %k ...) is dropped; "%%" is a percent sign.
            inArgument = true;
            if (exec[++i] == QLatin1Char('%')) {
                current += QLatin1Char('%');
                keep = true;
            }
        } else {
            inArgument = keep = true;
            current += c;
        }
    }
    finish();
    return arguments;
}

TContactsStart TContactsProgram::Start() const
{
    const QString id = DesktopId();
    if (id.isEmpty())
        return {false, NoContactsProgramText};
    const QString desktopFile = DesktopFile(id);
    if (desktopFile.isEmpty())
        return {false, std::string(NoContactsProgramText) + "\n\nThe desktop names \"" + Utf8(id) +
                           "\", but no such program file was found."};
    QStringList command = CommandOf(ExecLine(desktopFile));
    const auto failed = [&](const QString& cause) {
        return TContactsStart{false, std::string(NoContactsProgramText) + "\n\nThe contacts program of \"" +
                                         Utf8(desktopFile) + "\" could not be started: " + Utf8(cause) + "."};
    };
    if (command.isEmpty())
        return failed(QStringLiteral("its desktop file has no Exec line"));
    const QString program = command.takeFirst();
    const QString found =
        program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    if (found.isEmpty() || !QFileInfo(found).isExecutable() || QFileInfo(found).isDir())
        return failed(QStringLiteral("the program \"%1\" was not found or is not executable").arg(program));
    QProcess process;
    process.setProgram(found);
    process.setArguments(command);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached())
        return failed(process.errorString());
    return {true, {}};
}

} // namespace tarnwick::gui
