#include "gui/message/TfMailSource.h"

#include <fstream>
#include <string>

#include <QTextBrowser>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QVBoxLayout>

#include "gui/message/TFullMessageLoader.h"
#include "gui/message/TMessageInfo.h"
#include "retrieval/TCacheFile.h"

namespace tarnwick::gui {

TfMailSource::TfMailSource(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("fMailSource"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    RichView1 = new QTextBrowser(this);
    RichView1->setObjectName(QStringLiteral("RichView1"));
    RichView1->setOpenLinks(false);
    RichView1->setLineWrapMode(QTextEdit::NoWrap);
    RichView1->document()->setDocumentMargin(5);
    layout->addWidget(RichView1);
    resize(606, 499);
    if (parent != nullptr)
        move(parent->window()->geometry().center() - rect().center());
}

void TfMailSource::ShowSource(const accounts::TMailMessage& record)
{
    setWindowTitle(LineText(record.Subject) + QStringLiteral(" - Message Source - Orvalent Tarnwick "));
    QTextCharFormat regular;
    regular.setForeground(palette().text());
    QTextCharFormat bold = regular;
    bold.setFontWeight(QFont::Bold);
    bold.setForeground(QColor(Qt::black));

    RichView1->clear();
    QTextCursor cursor(RichView1->document());
    auto file = retrieval::OpenCacheFile(record.Headers, CachePathOf(record).toStdString());
    if (!file) {
        cursor.insertText(QStringLiteral("Message was truncated"), regular);
        return;
    }
    // The lines are gathered into two runs, the header and the body, so that a large message is
    // laid out in two insertions rather than one per line.
    const std::size_t headerLines = record.Headers.size();
    QString header;
    QString body;
    std::string line;
    std::size_t i = 0;
    while (std::getline(*file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        QString& run = i < headerLines ? header : body;
        if (i != 0 && i != headerLines)
            run += QChar::ParagraphSeparator;
        run += line.empty() ? QStringLiteral(" ") : LineText(line);
        ++i;
    }
    cursor.insertText(header, bold);
    if (i > headerLines) {
        cursor.insertBlock(QTextBlockFormat(), regular);
        cursor.insertText(body, regular);
    }
    RichView1->moveCursor(QTextCursor::Start);
}

} // namespace tarnwick::gui
