#include "TMessageBrowser.h"

#include <QDesktopServices>
#include <QFile>
#include <QImage>
#include <QTextDocument>
#include <QTextOption>

#include "core/Errors.h"
#include "mime/DisplayAddress.h"
#include "mime/HtmlSanitizer.h"
#include "mime/TRenderedMessage.h"

namespace tarnwick::gui {

namespace {

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Whether the HTML's text has a run of this many characters without a blank or a tag: a line that
// long can only be wrapped anywhere, and Qt's word wrapping takes time that grows with the square
// of such a run's length (seconds for 200 KB of one word).
bool HasUnbrokenRun(std::string_view html, std::size_t length = 1000)
{
    std::size_t run = 0;
    for (const char c : html) {
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '<' || c == '>')
            run = 0;
        else if (++run >= length)
            return true;
    }
    return false;
}

// The link under a clipped message that shows the rest.
const QString WholeMessageLink = QStringLiteral("tarnwick:whole-message");

// What a refused resource gets: one transparent pixel, so that nothing else is tried for it.
QImage RefusedImage()
{
    QImage image(1, 1, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// The picture of a data:image/... URL, or a null image.
QImage DataImage(const QUrl& url)
{
    const QByteArray text = url.toEncoded();
    const qsizetype comma = text.indexOf(',');
    if (comma < 0 || !text.toLower().startsWith("data:image/") || text.toLower().startsWith("data:image/svg"))
        return {};
    const QByteArray header = text.left(comma).toLower();
    const QByteArray payload = QByteArray::fromPercentEncoding(text.mid(comma + 1));
    const QByteArray bytes = header.endsWith(";base64") ? QByteArray::fromBase64(payload) : payload;
    return QImage::fromData(bytes);
}

} // namespace

TMessageBrowser::TMessageBrowser(QWidget* parent)
    : QTextBrowser(parent)
    , Opener_([](const QUrl& url) { QDesktopServices::openUrl(url); })
{
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setSearchPaths({});
    connect(this, &QTextBrowser::anchorClicked, this, &TMessageBrowser::OnAnchorClicked);
    connect(this, qOverload<const QUrl&>(&QTextBrowser::highlighted), this, &TMessageBrowser::OnHighlighted);
}

TMessageBrowser::~TMessageBrowser() = default;

void TMessageBrowser::ShowFile(const QString& path)
{
    try {
        Show(std::make_unique<mime::TRenderedMessage>(
                 mime::RenderMessageFile(QFile::encodeName(path).toStdString())),
             path);
    } catch (const core::TError& e) {
        ShowError(QString::fromUtf8(e.what()), path);
    }
}

void TMessageBrowser::ShowPage(const QString& path)
{
    try {
        Show(std::make_unique<mime::TRenderedMessage>(
                 mime::RenderHtmlFile(QFile::encodeName(path).toStdString())),
             path);
    } catch (const core::TError& e) {
        ShowError(QString::fromUtf8(e.what()), path);
    }
}

void TMessageBrowser::ShowBlank()
{
    Show(std::make_unique<mime::TRenderedMessage>(), QString());
}

QString TMessageBrowser::ShownFile() const
{
    return ShownFile_;
}

int TMessageBrowser::BlockedRemote() const
{
    return SanitizerBlocked_ + static_cast<int>(Refused_.size());
}

void TMessageBrowser::SetPrompter(core::TPrompter* prompter)
{
    Prompter_ = prompter;
}

void TMessageBrowser::SetLinkOpener(std::function<void(const QUrl&)> open)
{
    Opener_ = std::move(open);
}

void TMessageBrowser::Show(std::unique_ptr<mime::TRenderedMessage> rendered, const QString& shown)
{
    // A fresh document: the old one's cached resources (the last message's pictures) go with it.
    document()->clear();
    Refused_.clear();
    Rendered_ = std::move(rendered);
    SanitizerBlocked_ = static_cast<int>(Rendered_->BlockedRemote);
    ShownFile_ = shown;
    setStatusTip({});
    setToolTip({});
    const std::string& html = Rendered_->Html;
    const std::size_t cut = mime::ClipPosition(html, ClipBytes);
    Clipped_ = cut < html.size();
    setWordWrapMode(HasUnbrokenRun(std::string_view(html).substr(0, cut))
                        ? QTextOption::WrapAnywhere
                        : QTextOption::WrapAtWordBoundaryOrAnywhere);
    if (Clipped_) {
        const double megabytes = static_cast<double>(html.size()) / (1024.0 * 1024.0);
        setHtml(QString::fromUtf8(html.data(), static_cast<qsizetype>(cut)) +
                QStringLiteral("<hr><p><b>This message is long: only its beginning is shown.</b> "
                               "<a href=\"%1\">Show the whole message</a> (%2 MB; this may take a few "
                               "seconds)</p>")
                    .arg(WholeMessageLink)
                    .arg(megabytes, 0, 'f', 1));
    } else {
        setHtml(FromUtf8(html));
    }
    QMetaObject::invokeMethod(
        this, [this] { emit LoadFinished(); }, Qt::QueuedConnection);
}

void TMessageBrowser::ShowWhole()
{
    if (!Clipped_ || !Rendered_)
        return;
    Clipped_ = false;
    if (HasUnbrokenRun(Rendered_->Html))
        setWordWrapMode(QTextOption::WrapAnywhere);
    setHtml(FromUtf8(Rendered_->Html));
    QMetaObject::invokeMethod(
        this, [this] { emit LoadFinished(); }, Qt::QueuedConnection);
}

void TMessageBrowser::ShowError(const QString& text, const QString& shown)
{
    auto page = std::make_unique<mime::TRenderedMessage>();
    page->Html = "<html><body><p>" + mime::EscapeHtml(text.toStdString()) + "</p></body></html>";
    Show(std::move(page), shown);
}

QVariant TMessageBrowser::loadResource(int type, const QUrl& name)
{
    if (type == QTextDocument::ImageResource && Rendered_) {
        const QString scheme = name.scheme().toLower();
        if (scheme == QLatin1String("cid")) {
            const std::string id = name.toEncoded(QUrl::RemoveScheme).toStdString();
            if (const mime::TInlinePart* part = Rendered_->FindInline(id)) {
                const QImage image = QImage::fromData(
                    QByteArray::fromRawData(part->Data.data(), static_cast<qsizetype>(part->Data.size())));
                if (!image.isNull())
                    return image;
            }
            return RefusedImage(); // a part of the message that is missing or no picture
        }
        if (scheme == QLatin1String("data")) {
            const QImage image = DataImage(name);
            if (!image.isNull())
                return image;
        }
    }
    // Anything else would come from the network or the disk. Never the base class: it reads files.
    Refused_.insert(name.toString());
    if (type == QTextDocument::ImageResource)
        return RefusedImage();
    return QByteArray();
}

QString TMessageBrowser::LinkQuestion(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("mailto")) {
        const QString address = FromUtf8(mime::DisplayAddress(url.path(QUrl::FullyDecoded).toStdString()));
        return QStringLiteral("Write to %1 with your mail program?").arg(address);
    }
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https") && scheme != QLatin1String("ftp"))
        return {};
    // The address exactly as it will be opened (host in its ASCII form, escapes kept), and the host
    // once more as DisplayDomain shows it when that differs.
    QString text =
        QStringLiteral("Open this link in your web browser?\n\n") + url.toString(QUrl::FullyEncoded);
    const std::string host = url.host(QUrl::FullyEncoded).toStdString();
    const QString shown = FromUtf8(mime::DisplayDomain(host));
    if (!host.empty() && shown != QString::fromStdString(host))
        text += QStringLiteral("\n\nServer: ") + shown;
    return text;
}

void TMessageBrowser::OnAnchorClicked(const QUrl& url)
{
    if (url.toString() == WholeMessageLink) {
        ShowWhole();
        return;
    }
    const QString question = LinkQuestion(url);
    if (question.isEmpty() || !Prompter_)
        return;
    const core::TAnswer answer = Prompter_->Ask(core::TMessageKind::Confirmation, question.toStdString(),
                                                {core::TAnswer::Yes, core::TAnswer::No});
    if (answer == core::TAnswer::Yes && Opener_)
        Opener_(url);
}

void TMessageBrowser::OnHighlighted(const QUrl& url)
{
    const QString target = url.isEmpty() ? QString() : url.toString(QUrl::FullyEncoded);
    setStatusTip(target);
    setToolTip(target);
}

} // namespace tarnwick::gui
