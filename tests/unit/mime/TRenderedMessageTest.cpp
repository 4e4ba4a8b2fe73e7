#include "mime/TRenderedMessage.h"

#include <chrono>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "core/Errors.h"
#include "core/TextUtils.h"
#include "support/TTempHome.h"

using namespace tarnwick::mime;
using tarnwick::test::Fixture;
using tarnwick::test::ReadFileBytes;

namespace {

bool Has(const std::string& html, const std::string& text)
{
    return html.find(text) != std::string::npos;
}

TRenderedMessage RenderFixture(const std::string& name)
{
    return RenderMessageFile(Fixture("mime/" + name));
}

double SecondsToRender(const std::string& message, TRenderedMessage& rendered)
{
    const auto start = std::chrono::steady_clock::now();
    rendered = RenderMessage(message);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

TEST(RenderMessage, ChoosesTheHtmlAlternativeInsideMixed)
{
    const TRenderedMessage r = RenderFixture("AlternativeInMixed.eml");
    EXPECT_TRUE(Has(r.Html, "HTML VERSION")) << r.Html;
    EXPECT_FALSE(Has(r.Html, "PLAIN VERSION"));
    EXPECT_FALSE(Has(r.Html, "ATTACHED HTML")) << "an attachment is no body";
    EXPECT_FALSE(Has(r.Html, "TITLE TEXT"));
    EXPECT_FALSE(Has(r.Html, "alert"));
    EXPECT_FALSE(Has(r.Html, "tracker.example"));
    EXPECT_EQ(r.BlockedRemote, 1u);
    // The header block: decoded words, every mailbox, the look-alike domain in its ASCII form.
    EXPECT_TRUE(Has(r.Html, "J\xC3\xBCrgen &lt;j@example.com&gt;")) << r.Html;
    EXPECT_TRUE(Has(r.Html, "A &lt;a@example.org&gt;, b@example.org"));
    EXPECT_TRUE(Has(r.Html, "Apple &lt;info@xn--80ak6aa92e.example&gt;"));
    EXPECT_TRUE(Has(r.Html, "Gr\xC3\xBC\xC3\x9F"
                            "e"));
}

TEST(RenderMessage, PlainTextIsEscapedWithLinksAndItsCharsetDecoded)
{
    const TRenderedMessage r = RenderFixture("Latin1PlainText.eml");
    EXPECT_TRUE(Has(r.Html, "Gr\xC3\xBC\xC3\x9F"
                            "e aus K\xC3\xB6ln &lt;3"))
        << r.Html;
    EXPECT_TRUE(Has(r.Html, "pre-wrap"));
    EXPECT_TRUE(Has(r.Html, "<a href=\"https://example.com/a?b=1&amp;c=2\">"));
    EXPECT_TRUE(Has(r.Html, "<a href=\"http://www.example.org\">"));
    EXPECT_TRUE(Has(r.Html, "<a href=\"mailto:me@example.com\">"));
}

TEST(RenderMessage, CharsetsAreDecodedOrGuessed)
{
    struct TCase
    {
        const char* Fixture;
        std::string Expected;
    };
    for (const TCase& c : {
             TCase{"UnknownCharset.eml", "Fa\xC3\xA7"
                                         "ade utf8 caf\xC3\xA9 latin"},
             TCase{"HtmlOnlyWindows1251.eml", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"}, // Привет
         }) {
        const TRenderedMessage r = RenderFixture(c.Fixture);
        EXPECT_TRUE(tarnwick::core::IsValidUtf8(r.Html)) << c.Fixture;
        EXPECT_TRUE(Has(r.Html, c.Expected)) << c.Fixture << ": " << r.Html;
        EXPECT_FALSE(Has(r.Html, "javascript")) << c.Fixture;
    }
}

TEST(RenderMessage, CidImagesBecomeInlineParts)
{
    const TRenderedMessage r = RenderFixture("RelatedCidImage.eml");
    ASSERT_EQ(r.InlineParts.size(), 1u);
    EXPECT_EQ(r.InlineParts[0].ContentId, "logo@shop.example");
    EXPECT_EQ(r.InlineParts[0].MimeType, "image/png");
    EXPECT_EQ(r.InlineParts[0].Data, ReadFileBytes(Fixture("mime/Red3x2.png")));
    EXPECT_TRUE(Has(r.Html, "<img src=\"cid:logo%40shop.example\" alt=\"logo\">")) << r.Html;
    EXPECT_EQ(r.BlockedRemote, 0u);
    for (const char* name : {"logo%40shop.example", "cid:logo@shop.example", "CID:LOGO%40SHOP.EXAMPLE"})
        EXPECT_EQ(r.FindInline(name), &r.InlineParts[0]) << name;
    EXPECT_EQ(r.FindInline("cid:other@shop.example"), nullptr);
}

TEST(RenderMessage, BrokenMimeIsShownBestEffort)
{
    const TRenderedMessage r = RenderFixture("UnclosedBoundary.eml");
    EXPECT_TRUE(Has(r.Html, "HTML BEFORE THE END")) << r.Html;
    EXPECT_EQ(r.BlockedRemote, 1u);

    std::mt19937 random(7);
    for (const std::string& input :
         {std::string(), std::string("\0\0\0", 3), std::string("no header at all"),
          std::string("Content-Type: multipart/mixed; boundary=\"\"\n\n--\n--\n"),
          std::string("Content-Type: text/html; charset=\"\xFF\xFE\"\n\n<b>\xFF\xC0</b>"),
          std::string("Content-Type: message/rfc822\n\nContent-Type: message/rfc822\n\n"),
          std::string("Content-Transfer-Encoding: base64\n\n!!!!====\n")}) {
        const TRenderedMessage out = RenderMessage(input);
        EXPECT_TRUE(tarnwick::core::IsValidUtf8(out.Html));
    }
    std::string noise(4096, '\0');
    for (int round = 0; round < 50; ++round) {
        for (char& c : noise)
            c = static_cast<char>(random() % 3 == 0 ? "\n-:<>=\"; "[random() % 9] : random());
        EXPECT_TRUE(tarnwick::core::IsValidUtf8(
            RenderMessage("Content-Type: multipart/mixed; boundary=x\n\n--x\n" + noise).Html));
    }
}

TEST(RenderMessage, DeepNestingAndManyPartsAreBounded)
{
    // 5,000 multiparts inside each other with the text at the bottom: not looked into that far.
    std::string deep = "Content-Type: multipart/mixed; boundary=\"b0\"\n\n";
    const int depth = 5000;
    for (int i = 1; i <= depth; ++i)
        deep += "--b" + std::to_string(i - 1) + "\nContent-Type: multipart/mixed; boundary=\"b" +
                std::to_string(i) + "\"\n\n";
    deep += "--b" + std::to_string(depth) + "\nContent-Type: text/plain\n\nDEEP TEXT\n";
    TRenderedMessage r;
    EXPECT_LT(SecondsToRender(deep, r), 10.0);
    EXPECT_FALSE(Has(r.Html, "DEEP TEXT"));

    // 3,000 inline images: the first 256 are kept.
    std::string many =
        "Content-Type: multipart/related; boundary=\"m\"\n\n--m\nContent-Type: text/html\n\n<p>x</p>\n";
    for (int i = 0; i < 3000; ++i)
        many += "--m\nContent-Type: image/gif\nContent-ID: <p" + std::to_string(i) + ">\n\nGIF89a\n";
    many += "--m--\n";
    EXPECT_LT(SecondsToRender(many, r), 10.0);
    ASSERT_EQ(r.InlineParts.size(), MaxInlineParts);
    EXPECT_EQ(r.InlineParts.front().ContentId, "p0");
    EXPECT_EQ(r.InlineParts.back().ContentId, "p255");

    // 40 images of 1 MiB: together no more than 32 MiB are kept.
    std::string big = "Content-Type: multipart/related; boundary=\"m\"\n\n";
    for (int i = 0; i < 40; ++i)
        big += "--m\nContent-Type: image/png\nContent-ID: <b" + std::to_string(i) +
               ">\nContent-Transfer-Encoding: binary\n\n" + std::string(1u << 20, 'x') + "\n";
    big += "--m--\n";
    r = RenderMessage(big);
    std::size_t total = 0;
    for (const TInlinePart& part : r.InlineParts)
        total += part.Data.size();
    EXPECT_LE(total, MaxInlineBytes);
    EXPECT_GE(r.InlineParts.size(), 30u);
}

TEST(RenderMessage, ALongSingleLineStaysLinear)
{
    const std::string line(10u << 20, 'w');
    TRenderedMessage r;
    EXPECT_LT(SecondsToRender("Content-Type: text/plain\n\n" + line, r), 10.0);
    EXPECT_GT(r.Html.size(), line.size());
    EXPECT_LT(SecondsToRender("Content-Type: text/html\n\n<p>" + line, r), 10.0);
    EXPECT_GT(r.Html.size(), line.size());
}

TEST(RenderMessageFiles, ErrorsNameTheFileAndTheReason)
{
    const std::string missing = "/nonexistent/tarnwick/message.eml";
    try {
        RenderMessageFile(missing);
        FAIL() << "no error";
    } catch (const tarnwick::core::TFileError& e) {
        EXPECT_TRUE(Has(e.what(), missing)) << e.what();
        EXPECT_TRUE(Has(e.what(), "No such file or directory")) << e.what();
    }
    EXPECT_THROW(RenderHtmlFile("/"), tarnwick::core::TFileError);
}

TEST(RenderMessageFiles, ProgramPagesGoThroughTheSanitiser)
{
    tarnwick::test::TTempHome home(false);
    tarnwick::test::WriteFileBytes(
        home / "Wait.html", "<html><body onload=x()><h1>Please wait</h1><img src=\"http://h.example/a.gif\">"
                            "<script>x()</script></body></html>");
    const TRenderedMessage r = RenderHtmlFile(home / "Wait.html");
    EXPECT_TRUE(Has(r.Html, "<h1>Please wait</h1>"));
    EXPECT_FALSE(Has(r.Html, "x()"));
    EXPECT_FALSE(Has(r.Html, "<table")) << "a page has no header block";
    EXPECT_EQ(r.BlockedRemote, 1u);
}
