// The message view: nothing outside the message is reached (network or local files), the message's
// own pictures are shown, and a link opens only after the user agreed.
#include "gui/viewer/TMessageBrowser.h"

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QHostAddress>
#include <QImage>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTextDocument>

#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick;
using gui::TMessageBrowser;
using test::Fixture;
using test::TScriptedPrompter;
using test::TTempHome;

namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

// Shows the file, waits for LoadFinished and paints the widget, which makes the document load
// every picture it names.
void ShowAndPaint(TMessageBrowser& browser, const QString& path)
{
    QSignalSpy finished(&browser, &TMessageBrowser::LoadFinished);
    browser.ShowFile(path);
    ASSERT_TRUE(finished.wait(2000));
    browser.resize(600, 800);
    browser.grab();
    QCoreApplication::processEvents();
}

std::string HtmlMail(const std::string& html)
{
    return "From: a@example.com\r\nSubject: test\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + html;
}

// A server on loopback that counts who connects to it.
struct TWatchedServer
{
    QTcpServer Server;
    int Connections = 0;
    TWatchedServer()
    {
        EXPECT_TRUE(Server.listen(QHostAddress::LocalHost));
        QObject::connect(&Server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = Server.nextPendingConnection()) {
                ++Connections;
                socket->deleteLater();
            }
        });
    }
    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(Server.serverPort()) + "/" + path;
    }
};

} // namespace

TEST(MessageBrowser, ReachesNothingARemoteMessageNames)
{
    TWatchedServer server;
    TTempHome home(false);
    const std::string mail = home / "remote.eml";
    test::WriteFileBytes(
        mail,
        HtmlMail("<html><head><link rel=\"stylesheet\" href=\"" + server.Url("s.css") +
                 "\"><style>@import url(" + server.Url("i.css") + ");</style></head><body background=\"" +
                 server.Url("body.png") + "\"><table background=\"" + server.Url("bg.png") +
                 "\"><tr><td>cell</td></tr></table>" + "<div style=\"background-image: url(" +
                 server.Url("css.png") + ")\">styled</div><img src=\"" + server.Url("img.png") +
                 "\" alt=\"pixel\"><img src=\"file://" + Fixture("mime/Red3x2.png") + "\"></body></html>"));
    TMessageBrowser browser;
    ShowAndPaint(browser, Q(mail));
    QTest::qWait(200); // time for a connection to arrive, were one made

    EXPECT_EQ(server.Connections, 0);
    // link, @import, url() of the style sheet, two backgrounds, the style url(), two images
    EXPECT_EQ(browser.BlockedRemote(), 8);
    EXPECT_TRUE(browser.toPlainText().contains(QStringLiteral("[pixel]")))
        << browser.toPlainText().toStdString();
    EXPECT_EQ(browser.ShownFile(), Q(mail));
}

TEST(MessageBrowser, RefusesWhatReachesTheDocumentPastTheSanitiser)
{
    // HTML set directly, not sanitised: the resource loader alone must stop it.
    TWatchedServer server;
    const QUrl localPng = QUrl::fromLocalFile(Q(Fixture("mime/Red3x2.png")));
    TMessageBrowser browser;
    browser.ShowBlank();
    browser.setHtml(Q("<img src=\"" + server.Url("a.png") + "\"><img src=\"") + localPng.toString() +
                    Q("\"><img src=\"" + Fixture("mime/Red3x2.png") + "\"><img src=\"relative.png\">"));
    browser.resize(400, 400);
    browser.grab();
    QTest::qWait(200);

    EXPECT_EQ(server.Connections, 0);
    EXPECT_EQ(browser.BlockedRemote(), 4);
    for (const QUrl& name :
         {localPng, QUrl::fromLocalFile(Q(Fixture("mime/Red3x2.png"))), QUrl(Q(server.Url("a.png")))}) {
        const QVariant resource = browser.document()->resource(QTextDocument::ImageResource, name);
        const QImage image = resource.value<QImage>();
        EXPECT_NE(image.size(), QSize(3, 2)) << name.toString().toStdString() << ": the file was read";
    }
}

TEST(MessageBrowser, ShowsTheMessagesOwnPicturesAndText)
{
    TMessageBrowser browser;
    ShowAndPaint(browser, Q(Fixture("mime/RelatedCidImage.eml")));
    const QImage logo =
        browser.document()
            ->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("cid:logo%40shop.example")))
            .value<QImage>();
    EXPECT_EQ(logo.size(), QSize(3, 2));
    EXPECT_EQ(QColor(logo.pixel(0, 0)), QColor(255, 0, 0));
    EXPECT_EQ(browser.BlockedRemote(), 0);

    ShowAndPaint(browser, Q(Fixture("mime/AlternativeInMixed.eml")));
    const QString text = browser.toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("HTML VERSION")));
    EXPECT_FALSE(text.contains(QStringLiteral("alert"))) << "script text";
    EXPECT_FALSE(text.contains(QStringLiteral("TITLE TEXT")));
    EXPECT_TRUE(text.contains(QStringLiteral("xn--80ak6aa92e.example")));
    // The previous message's picture went with it.
    EXPECT_NE(browser.document()
                  ->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("cid:logo%40shop.example")))
                  .value<QImage>()
                  .size(),
              QSize(3, 2));

    ShowAndPaint(browser, Q(Fixture("mime/Latin1PlainText.eml")));
    EXPECT_TRUE(browser.toPlainText().contains(QString::fromUtf8("Gr\xC3\xBC\xC3\x9F"
                                                                 "e aus K\xC3\xB6ln <3")))
        << browser.toPlainText().toStdString();
}

TEST(MessageBrowser, ShowsWhyAFileCannotBeShownAndTheBlankPage)
{
    TMessageBrowser browser;
    QSignalSpy finished(&browser, &TMessageBrowser::LoadFinished);
    const QString missing = QStringLiteral("/nonexistent/tarnwick/gone.eml");
    browser.ShowFile(missing);
    EXPECT_TRUE(browser.toPlainText().contains(missing));
    EXPECT_TRUE(browser.toPlainText().contains(QStringLiteral("No such file or directory")));
    EXPECT_EQ(browser.ShownFile(), missing);

    browser.ShowBlank();
    EXPECT_TRUE(browser.toPlainText().trimmed().isEmpty());
    EXPECT_TRUE(browser.ShownFile().isEmpty());
    EXPECT_EQ(browser.BlockedRemote(), 0);
    EXPECT_TRUE(finished.wait(2000));
    EXPECT_EQ(finished.count(), 2);
}

namespace {

// Clicks the anchor whose text is `text`, as the user does.
void ClickAnchor(TMessageBrowser& browser, const QString& text)
{
    const QTextCursor found = browser.document()->find(text);
    ASSERT_FALSE(found.isNull()) << text.toStdString();
    QTextCursor middle(browser.document());
    middle.setPosition(found.selectionStart() + 1);
    const QPoint point = browser.cursorRect(middle).center();
    QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, point);
}

struct TLinkCase
{
    const char* Href;
    std::vector<core::TAnswer> Answers; // empty: no question
    const char* Question;               // a part of the question asked
    bool Opened;
};

} // namespace

TEST(MessageBrowser, OpensALinkOnlyAfterTheUserAgreed)
{
    const std::vector<TLinkCase> cases = {
        {"https://real.example/x?a=1",
         {core::TAnswer::Yes},
         "Open this link in your web browser?\n\nhttps://real.example/x?a=1",
         true},
        {"https://real.example/x", {core::TAnswer::No}, "https://real.example/x", false},
        {"mailto:me@example.com",
         {core::TAnswer::Yes},
         "Write to me@example.com with your mail program?",
         true},
        {"http://xn--80ak6aa92e.example/login",
         {core::TAnswer::No},
         "http://xn--80ak6aa92e.example/login",
         false},
    };
    TTempHome home(false);
    for (const TLinkCase& c : cases) {
        SCOPED_TRACE(c.Href);
        test::WriteFileBytes(home / "link.eml",
                             HtmlMail(std::string("<p>Go <a href=\"") + c.Href + "\">here</a></p>"));
        TScriptedPrompter prompter(c.Answers);
        std::vector<QUrl> opened;
        TMessageBrowser browser;
        browser.SetPrompter(&prompter);
        browser.SetLinkOpener([&](const QUrl& url) { opened.push_back(url); });
        browser.show();
        ShowAndPaint(browser, Q(home / "link.eml"));
        ClickAnchor(browser, QStringLiteral("here"));

        ASSERT_EQ(prompter.Log.size(), 1u);
        EXPECT_EQ(prompter.Log[0].Kind, core::TMessageKind::Confirmation);
        EXPECT_NE(prompter.Log[0].Text.find(c.Question), std::string::npos) << prompter.Log[0].Text;
        EXPECT_EQ(prompter.Log[0].Buttons,
                  (std::vector<core::TAnswer>{core::TAnswer::Yes, core::TAnswer::No}));
        ASSERT_EQ(opened.size(), c.Opened ? 1u : 0u);
        if (c.Opened) {
            EXPECT_EQ(opened[0], QUrl(QString::fromLatin1(c.Href)));
        }
    }

    // Without a prompter nothing opens; a scheme that got past the sanitiser is never asked about.
    std::vector<QUrl> opened;
    TMessageBrowser browser;
    browser.SetLinkOpener([&](const QUrl& url) { opened.push_back(url); });
    emit browser.anchorClicked(QUrl(QStringLiteral("https://real.example/")));
    TScriptedPrompter prompter;
    browser.SetPrompter(&prompter);
    for (const char* href : {"javascript:alert(1)", "file:///etc/passwd", "relative.html"})
        emit browser.anchorClicked(QUrl(QString::fromLatin1(href)));
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(prompter.Log.empty());
}

TEST(MessageBrowser, ALongMessageShowsItsBeginningAndTheRestOnRequest)
{
    TTempHome home;
    struct TCase
    {
        const char* Name;
        std::string Message;
        QString Last; // the text at the message's end
    };
    std::string html = "<html><body>";
    for (int i = 0; html.size() < 3 * TMessageBrowser::ClipBytes; ++i)
        html += "<p>Paragraph " + std::to_string(i) + " with &amp; and \xc3\xa4 in it.</p>";
    html += "<p>The very end.</p></body></html>";
    const TCase cases[] = {
        {"long.eml", HtmlMail(html), QStringLiteral("The very end.")},
        {"line.eml",
         "From: a@example.com\r\nSubject: line\r\n\r\n" + std::string(2 * TMessageBrowser::ClipBytes, 'x') +
             "END",
         QStringLiteral("xEND")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = home / c.Name;
        std::ofstream(path, std::ios::binary) << c.Message;
        TMessageBrowser browser;
        TScriptedPrompter prompter;
        browser.SetPrompter(&prompter);
        browser.resize(600, 400);
        browser.show();
        ShowAndPaint(browser, Q(path));
        EXPECT_TRUE(browser.Clipped());
        EXPECT_FALSE(browser.toPlainText().contains(c.Last));
        EXPECT_TRUE(browser.toPlainText().contains(QStringLiteral("only its beginning is shown")));
        // The link shows the rest, without a question and without leaving the program.
        QSignalSpy finished(&browser, &TMessageBrowser::LoadFinished);
        browser.moveCursor(QTextCursor::End);
        browser.ensureCursorVisible();
        QCoreApplication::processEvents();
        ClickAnchor(browser, QStringLiteral("Show the whole message"));
        EXPECT_TRUE(finished.wait(10000));
        EXPECT_FALSE(browser.Clipped());
        EXPECT_TRUE(browser.toPlainText().contains(c.Last));
        EXPECT_FALSE(browser.toPlainText().contains(QStringLiteral("only its beginning is shown")));
        EXPECT_TRUE(prompter.Log.empty());
    }
}
