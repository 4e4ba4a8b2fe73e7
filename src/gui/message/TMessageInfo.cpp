#include "gui/message/TMessageInfo.h"

#include <QDateTime>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTextBlockFormat>
#include <QTextBrowser>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>

#include "core/TextUtils.h"
#include "mime/DisplayAddress.h"

namespace tarnwick::gui {

namespace {

QString FromText(const std::string& text)
{
    return LineText(text);
}

QString Address(const std::string& address)
{
    return LineText(mime::DisplayAddress(address));
}

} // namespace

QString LineText(std::string_view bytes)
{
    const std::string utf8 = core::IsValidUtf8(bytes) ? std::string(bytes) : core::Windows1252ToUtf8(bytes);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString BlockedRemoteText(int count)
{
    if (count <= 0)
        return {};
    return count == 1 ? QStringLiteral("1 remote resource blocked")
                      : QStringLiteral("%1 remote resources blocked").arg(count);
}

QString SentSummary(std::int64_t sent)
{
    if (sent == accounts::TMailMessage::NoDate)
        return {};
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(sent).toLocalTime();
    const QLocale locale;
    QString text = locale.toString(local.date(), QLocale::ShortFormat);
    if (local.time() != QTime(0, 0))
        text += QLatin1Char(' ') + locale.toString(local.time(), QLocale::LongFormat);
    return text;
}

void ShowMessageInfo(const accounts::TMailMessage& record, QTextBrowser& view, TInfoStyle style)
{
    view.clear();
    QTextDocument* document = view.document();
    QTextFrameFormat frame = document->rootFrame()->frameFormat();
    frame.setLeftMargin(style.LeftMargin);
    frame.setRightMargin(style.RightMargin);
    document->rootFrame()->setFrameFormat(frame);
    QTextCursor cursor(document);

    // The text styles: regular values, bold labels, links, and the thin spacer lines.
    QTextCharFormat regular;
    regular.setFontPointSize(style.PointSize);
    regular.setForeground(view.palette().text());
    QTextCharFormat label = regular;
    label.setFontWeight(QFont::Bold);
    label.setForeground(QColor(Qt::black));
    QTextCharFormat link = regular;
    link.setForeground(QColor(Qt::blue));
    link.setFontUnderline(true);
    link.setAnchor(true);
    QTextCharFormat spacer = regular;
    spacer.setFontPointSize(std::max<qreal>(2, style.PointSize / 2));

    bool first = true;
    auto paragraph = [&](const QString& caption, const QTextCharFormat& format) {
        if (!first)
            cursor.insertBlock(QTextBlockFormat(), format);
        first = false;
        cursor.insertText(caption, format);
    };
    auto spacerLine = [&] { paragraph(QStringLiteral(" "), spacer); };
    auto field = [&](const char* caption, const QString& value, const QTextCharFormat& format) {
        paragraph(QString::fromLatin1(caption), label);
        cursor.insertText(value, format);
    };
    auto linkTo = [&](const QString& target) {
        QTextCharFormat anchored = link;
        anchored.setAnchorHref(QStringLiteral("mailto:") + target);
        return anchored;
    };

    paragraph(QStringLiteral(" "), label);
    field("From (Name):  ", FromText(record.FromName), regular);
    spacerLine();
    const QString address = Address(record.FromAddress);
    field("From (Address):  ", address, linkTo(address));
    spacerLine();
    field("From (Company):  ", FromText(record.Organization), regular);
    spacerLine();
    field("Subject:  ", FromText(record.Subject), regular);
    spacerLine();
    field("Sent:  ", SentSummary(record.Sent), regular);
    spacerLine();
    const QString recipients = FromText(record.ToText);
    field("To:  ", recipients, linkTo(recipients));
    if (!record.Reason.empty()) {
        spacerLine();
        field("Why:  ", FromText(record.Reason), regular);
    }
    view.moveCursor(QTextCursor::Start);
}

void ShowMessageHeader(const accounts::TMailMessage& record, QPlainTextEdit& memo)
{
    QString text;
    for (const std::string& line : record.Headers) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += LineText(line);
    }
    memo.setPlainText(text);
}

} // namespace tarnwick::gui
