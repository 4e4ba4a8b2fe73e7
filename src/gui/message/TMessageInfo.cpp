#include "gui/message/TMessageInfo.h"

#include <QDateTime>
#include <QLocale>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextBrowser>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>

#include "mime/DisplayAddress.h"

namespace tarnwick::gui {

namespace {

// windows-1252's characters for the bytes 0x80 to 0x9F; 0 where the code page leaves one out.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

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
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError())
        return text;
    text.clear();
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const char16_t mapped = byte >= 0x80 && byte <= 0x9F ? Cp1252High[byte - 0x80] : 0;
        text += QChar(mapped != 0 ? mapped : char16_t(byte));
    }
    return text;
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
