#pragma once

#include <functional>
#include <memory>

#include <QSet>
#include <QTextBrowser>
#include <QUrl>

#include "core/TPrompter.h"

namespace tarnwick::mime {
struct TRenderedMessage;
}

namespace tarnwick::gui {

// The program's message view: a text browser that shows a rendered message (tarnwick_mime) and
// never reaches anything outside it. Images come only from the message's own parts (cid:) or from
// data:image/ URLs; every other resource the document asks for is refused and counted. A link is
// opened only after the user saw where it goes and agreed.
class TMessageBrowser : public QTextBrowser
{
    Q_OBJECT
public:
    explicit TMessageBrowser(QWidget* parent = nullptr);
    ~TMessageBrowser() override;

    // Renders and shows the message file; a file that cannot be read shows a short page naming
    // the file and the reason (no throw).
    void ShowFile(const QString& path);
    // Shows a local program page (Wait.html) through the sanitiser.
    void ShowPage(const QString& path);
    // The empty page ("about:blank").
    void ShowBlank();
    // What is shown: the file path, or empty for the blank page.
    QString ShownFile() const;
    // Remote references refused for the document shown: the sanitiser's plus loadResource's.
    int BlockedRemote() const;
    // How links are opened after the user agreed (default: QDesktopServices::openUrl). Tests
    // capture it. The question goes through the core::TPrompter given (nullptr: no link opens).
    void SetPrompter(core::TPrompter* prompter);
    void SetLinkOpener(std::function<void(const QUrl&)> open);

    // A long message shows its first ClipBytes of HTML at once, with a link to the rest: laying out
    // megabytes of HTML takes seconds (about 1 ms per kilobyte here), and most long mail is read
    // from the top.
    static constexpr std::size_t ClipBytes = 100 * 1024;
    // The document shown is the beginning of a longer message.
    bool Clipped() const { return Clipped_; }
    // Shows the whole of a clipped message (the link below it does the same).
    void ShowWhole();

    // The question asked before a link opens; empty for a link that is never opened.
    static QString LinkQuestion(const QUrl& url);

signals:
    // Emitted (queued, after the document is set) whenever a Show* call has finished loading.
    void LoadFinished();

protected:
    // Answers cid: names from the message's parts and data:image/ URLs; refuses everything else.
    // A refusal is a placeholder image, not an empty answer: on an empty answer the document would
    // read a local file of that name itself.
    QVariant loadResource(int type, const QUrl& name) override;

private:
    void Show(std::unique_ptr<mime::TRenderedMessage> rendered, const QString& shown);
    void ShowError(const QString& text, const QString& shown);
    void OnAnchorClicked(const QUrl& url);
    void OnHighlighted(const QUrl& url);

    std::unique_ptr<mime::TRenderedMessage> Rendered_;
    QString ShownFile_;
    int SanitizerBlocked_ = 0;
    bool Clipped_ = false;
    QSet<QString> Refused_; // names loadResource refused for this document
    core::TPrompter* Prompter_ = nullptr;
    std::function<void(const QUrl&)> Opener_;
};

} // namespace tarnwick::gui
