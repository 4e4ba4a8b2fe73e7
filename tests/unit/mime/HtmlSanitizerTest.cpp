#include "mime/HtmlSanitizer.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/TextUtils.h"

using namespace tarnwick::mime;

namespace {

const std::set<std::string> OutputElements = {
    "a",     "b",     "big",    "blockquote", "br",  "caption", "center", "code",  "col", "colgroup",
    "dd",    "div",   "dl",     "dt",         "em",  "font",    "h1",     "h2",    "h3",  "h4",
    "h5",    "h6",    "hr",     "i",          "img", "li",      "ol",     "p",     "pre", "s",
    "small", "span",  "strike", "strong",     "sub", "sup",     "table",  "tbody", "td",  "tfoot",
    "th",    "thead", "tr",     "tt",         "u",   "ul"};
const std::set<std::string> VoidElements = {"br", "hr", "img", "col"};

// What every output must be, whatever the input: valid UTF-8, every "<" a tag of an allowed
// element, no comment or declaration, start and end tags properly nested, quotes balanced.
// Returns what is wrong, or empty.
std::string ProblemOf(const std::string& html)
{
    if (!tarnwick::core::IsValidUtf8(html))
        return "not valid UTF-8";
    std::vector<std::string> open;
    for (std::size_t lt = html.find('<'); lt != std::string::npos; lt = html.find('<', lt + 1)) {
        const bool end = lt + 1 < html.size() && html[lt + 1] == '/';
        const std::size_t name = lt + (end ? 2 : 1);
        std::size_t p = name;
        while (p < html.size() && ((html[p] >= 'a' && html[p] <= 'z') || (html[p] >= '0' && html[p] <= '9')))
            ++p;
        const std::string element = html.substr(name, p - name);
        if (!OutputElements.count(element))
            return "element <" + element + "> at " + std::to_string(lt);
        // Attributes: name="value" pairs, the value without a raw quote or angle bracket.
        for (;;) {
            if (p >= html.size())
                return "unterminated tag";
            if (html[p] == '>')
                break;
            if (html[p] != ' ')
                return "junk in tag <" + element + ">";
            const std::size_t eq = html.find("=\"", p);
            const std::size_t close = eq == std::string::npos ? eq : html.find('"', eq + 2);
            if (close == std::string::npos)
                return "bad attribute in <" + element + ">";
            for (std::size_t i = p + 1; i < eq; ++i)
                if (!((html[i] >= 'a' && html[i] <= 'z') || html[i] == '-'))
                    return "bad attribute name in <" + element + ">";
            for (std::size_t i = eq + 2; i < close; ++i)
                if (html[i] == '<' || html[i] == '>')
                    return "angle bracket in attribute of <" + element + ">";
            p = close + 1;
        }
        if (end) {
            if (open.empty() || open.back() != element)
                return "</" + element + "> closes nothing open";
            open.pop_back();
        } else if (!VoidElements.count(element)) {
            open.push_back(element);
        }
        lt = p;
    }
    if (!open.empty())
        return "<" + open.back() + "> left open";
    return {};
}

std::string Lower(const std::string& text)
{
    return tarnwick::core::AsciiLower(text);
}

struct TSanitizeCase
{
    const char* Name;
    std::string Input;
    std::vector<std::string> Present; // each must appear in the output
    std::vector<std::string> Absent;  // none may appear in the output (compared in lower case)
    std::size_t Blocked;
};

class SanitizeHtmlCases : public ::testing::TestWithParam<TSanitizeCase>
{};

} // namespace

TEST_P(SanitizeHtmlCases, KeepsOnlySafeMarkup)
{
    const TSanitizeCase& c = GetParam();
    const TSanitizedHtml out = SanitizeHtml(c.Input);
    EXPECT_EQ(ProblemOf(out.Html), "") << out.Html;
    for (const std::string& present : c.Present)
        EXPECT_NE(out.Html.find(present), std::string::npos) << present << " missing in: " << out.Html;
    const std::string lower = Lower(out.Html);
    for (const std::string& absent : c.Absent)
        EXPECT_EQ(lower.find(absent), std::string::npos) << absent << " found in: " << out.Html;
    EXPECT_EQ(out.BlockedRemote, c.Blocked) << out.Html;
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, SanitizeHtmlCases,
    ::testing::Values(
        TSanitizeCase{"Script",
                      "<p>hi</p><SCRIPT type=text/javascript>alert('<b>x</b>')</script >after",
                      {"<p>hi</p>", "after"},
                      {"<script", "alert", "<b>"},
                      0},
        TSanitizeCase{"ScriptWithSource",
                      "<script src=\"http://h.example/x.js\"></script>ok",
                      {"ok"},
                      {"<script", "h.example"},
                      1},
        TSanitizeCase{"UnclosedScriptTakesTheRest", "a<script>b<p>c", {"a"}, {"<p>", "b", "c"}, 0},
        TSanitizeCase{"EventHandlers",
                      "<body onload=\"evil()\"><img src=\"cid:a\" onerror=evil() ONMOUSEOVER='evil()'>"
                      "<a href=\"http://x.example/\" onclick=\"evil()\">l</a>",
                      {"<img src=\"cid:a\">", "<a href=\"http://x.example/\">l</a>"},
                      {"on", "evil"},
                      0},
        TSanitizeCase{"Iframe",
                      "<iframe src=\"http://h.example/\">fallback</iframe>after",
                      {"after"},
                      {"<iframe", "fallback", "h.example"},
                      1},
        TSanitizeCase{"FramesetAndFrames",
                      "<frameset><frame src=\"http://h.example/a\"><frame src=b></frameset>",
                      {},
                      {"frame", "h.example"},
                      2},
        TSanitizeCase{"MetaRefresh",
                      "<meta http-equiv=\"Refresh\" content=\"0; URL=http://h.example/\">text",
                      {"text"},
                      {"<meta", "h.example"},
                      1},
        TSanitizeCase{
            "BaseAndLinkStylesheet",
            "<base href=\"http://h.example/\"><link rel=stylesheet href=\"http://h.example/s.css\">t",
            {"t"},
            {"<link", "<base", "h.example"},
            2},
        TSanitizeCase{
            "StyleElementUrlAndImport",
            "<style>body{background:URL(http://h.example/b.png)} @import \"http://h.example/i.css\";"
            "</style>text",
            {"text"},
            {"<style", "h.example", "background"},
            2},
        TSanitizeCase{"StyleAttributeUrl",
                      "<div style=\"color: red; background-image: url('http://h.example/b.png')\">x</div>",
                      {"style=\"color: red\"", ">x</div>"},
                      {"url", "h.example"},
                      1},
        TSanitizeCase{"StyleAttributeWithEntitiesAndComments",
                      "<p style=\"background:u&#114;l(http://h.example/a) ;font-weight:bold\">x</p>"
                      "<p style=\"background:url/**/(http://h.example/b)\">y</p>",
                      {"font-weight:bold"},
                      {"h.example", "url"},
                      2},
        TSanitizeCase{"StyleWithCssEscapes",
                      "<p style=\"background:\\75rl(http://h.example/a.png)\">x</p>",
                      {"x"},
                      {"style", "h.example"},
                      1},
        TSanitizeCase{"StyleExpression",
                      "<p style=\"width:expression(alert(1))\">x</p>",
                      {"<p>x</p>"},
                      {"expression", "alert"},
                      0},
        TSanitizeCase{
            "JavascriptHrefs",
            "<a href=\"javascript:alert(1)\">1</a><a href=\"&#106;avascript:alert(2)\">2</a>"
            "<a href=\"&#x6A;avascript&#58;alert(3)\">3</a><a href=\"java&#9;script:alert(4)\">4</a>"
            "<a href=\" JaVaScRiPt:alert(5)\">5</a><a href=\"&#0000106avascript:alert(6)\">6</a>"
            "<a href=\"java\nscript:alert(7)\">7</a><a href=javascript&colon;alert(8)>8</a>",
            {"<a>1</a>", "<a>8</a>"},
            {"href", "alert", "script"},
            0},
        TSanitizeCase{"OtherSchemesInHrefs",
                      "<a href=\"vbscript:msgbox\">v</a><a href=\"data:text/html;base64,PHNjcmlwdD4=\">d</a>"
                      "<a href=\"file:///etc/passwd\">f</a><a href=\"relative/page.html\">r</a>",
                      {"<a>v</a>", "<a>r</a>"},
                      {"href", "passwd"},
                      0},
        TSanitizeCase{"LinksKept",
                      "<a href=\"https://real.example/x?a=1&amp;b=2\" title=\"T\">x</a>"
                      "<A HREF=mailto:me@example.com>m</A><a href='ftp://files.example/'>f</a>",
                      {"<a href=\"https://real.example/x?a=1&amp;b=2\" title=\"T\">x</a>",
                       "<a href=\"mailto:me@example.com\">m</a>", "<a href=\"ftp://files.example/\">f</a>"},
                      {},
                      0},
        TSanitizeCase{"NestedAndMalformedTags",
                      "<div><b><i>x</div></b></i><p>y<table><tr><td>1<td>2<tr><td>3",
                      {"x", "y", ">1<", ">2<", ">3<"},
                      {},
                      0},
        TSanitizeCase{"UnterminatedComment",
                      "before<!-- <img src=http://h.example/a.gif> <script>x()",
                      {"before"},
                      {"img", "h.example", "x()"},
                      0},
        TSanitizeCase{"CommentsCdataAndInstructions",
                      "<!DOCTYPE html><!-- c1 --><?xml version=\"1.0\"?><![CDATA[ c2 ]]>ok<!--> shown",
                      {"ok", "shown"},
                      {"c1", "xml", "cdata", "doctype"},
                      0},
        TSanitizeCase{"UnquotedImageSource",
                      "<img src=http://h.example/a.gif alt=Logo>",
                      {"[Logo]"},
                      {"h.example", "<img"},
                      1},
        TSanitizeCase{"ProtocolRelativeImage",
                      "<img src=//host.example/p.gif>",
                      {"[image blocked]"},
                      {"host.example"},
                      1},
        TSanitizeCase{"CapitalImageTag",
                      "<IMG SRC=\"HTTP://H.EXAMPLE/A.GIF\" ALT=\"\">",
                      {"[image blocked]"},
                      {"h.example"},
                      1},
        TSanitizeCase{"LocalAndRelativeImages",
                      "<img src=\"file:///etc/passwd\"><img src=\"logo.png\"><img src=\"/abs.png\">"
                      "<img src=\" ftp://h.example/a.png\"><img src=\"&#104;ttp://h.example/b.png\">",
                      {},
                      {"<img", "passwd", "logo.png", "h.example"},
                      5},
        TSanitizeCase{"ImageSourceSetsCounted",
                      "<img src=\"cid:a\" srcset=\"http://h.example/2x.png 2x\">",
                      {"<img src=\"cid:a\">"},
                      {"srcset", "h.example"},
                      1},
        TSanitizeCase{"DataImagesKeptSvgNot",
                      "<img src=\"data:image/png;base64,iVBORw0KGgo=\" width=\"3\">"
                      "<img src=\"data:image/svg+xml;base64,PHN2Zz4=\"><img src=\"data:text/html,x\">",
                      {"<img src=\"data:image/png;base64,iVBORw0KGgo=\" width=\"3\">"},
                      {"svg", "text/html"},
                      2},
        TSanitizeCase{"BackgroundAttributes",
                      "<table background=\"http://h.example/bg.png\" bgcolor=\"#ff0000\"><tr>"
                      "<td background=x.png>t</td></tr></table>",
                      {"bgcolor=\"#ff0000\"", ">t</td>"},
                      {"background", "h.example"},
                      2},
        TSanitizeCase{"AttributeBreakout",
                      "<a title='\"><script>alert(1)</script>'>x</a><b class=\"a>b\">y</b>",
                      {"&quot;&gt;&lt;script&gt;", "<b>y</b>"},
                      {"<script"},
                      0},
        TSanitizeCase{
            "TextIsEscaped",
            "a < b && c > d &lt;i&gt; &copy; &bogus; &#128; &#0;",
            {"a &lt; b &amp;&amp; c &gt; d &lt;i&gt; \xC2\xA9 &amp;bogus; \xE2\x82\xAC \xEF\xBF\xBD"},
            {"<i>"},
            0},
        TSanitizeCase{
            "FormsAndControls",
            "<form action=\"http://h.example/\"><input type=image src=\"http://h.example/i.png\">"
            "<button formaction=\"http://h.example/b\">Press</button><select><option>O</select></form>",
            {"Press", "O"},
            {"form", "input", "button", "select", "h.example"},
            2},
        TSanitizeCase{"SvgMathObjectsAndMedia",
                      "<svg><image href=\"http://h.example/a.png\"/><script>x()</script></svg>"
                      "<math><mi>m</mi></math><object data=\"http://h.example/a.swf\"><embed "
                      "src=\"http://h.example/b.swf\"></object><video poster=\"http://h.example/p.png\">"
                      "<source src=\"http://h.example/v.mp4\"></video><audio src=\"a.mp3\"></audio>"
                      "<applet code=A codebase=\"http://h.example/\"></applet>",
                      {"m"},
                      {"svg", "math", "object", "embed", "video", "audio", "applet", "h.example", "x()"},
                      7},
        TSanitizeCase{
            "TagCutByTheEnd", "text<a href=\"http://x.example/", {"text"}, {"href", "x.example"}, 0},
        TSanitizeCase{"RawTextElements",
                      "<textarea><img src=http://h.example/a>&amp;</textarea><xmp><b>x</b></xmp>",
                      {"&lt;img src=http://h.example/a&gt;&amp;", "&lt;b&gt;x&lt;/b&gt;"},
                      {"<img", "<b>"},
                      0},
        TSanitizeCase{"HeadContentDropped",
                      "<html><head><title>TITLE WORD</title><meta charset=utf-8><style>p{}</style></head>"
                      "<body bgcolor=red>Body</body></html>",
                      {"Body"},
                      {"title", "word", "p{}"},
                      0},
        TSanitizeCase{"DuplicateAttributesFirstCounts",
                      "<a href=\"https://good.example/\" href=\"javascript:alert(1)\">x</a>"
                      "<a href=\"javascript:alert(1)\" href=\"https://good.example/\">y</a>",
                      {"<a href=\"https://good.example/\">x</a>", "<a>y</a>"},
                      {"javascript"},
                      0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SanitizeHtml, TagSoupAlwaysComesOutWellFormed)
{
    // Random mixtures of the pieces that trip tokenizers: every output must pass ProblemOf and
    // carry no script or remote reference.
    const std::vector<std::string> pieces = {"<",
                                             ">",
                                             "</",
                                             "/>",
                                             "<p>",
                                             "</p>",
                                             "<td>",
                                             "<tr>",
                                             "<table>",
                                             "</table>",
                                             "<li>",
                                             "<ul>",
                                             "</ul>",
                                             "<b>",
                                             "</i>",
                                             "<i>",
                                             "<a href=",
                                             "\"",
                                             "'",
                                             " ",
                                             "=",
                                             "<!--",
                                             "-->",
                                             "<!",
                                             "<?",
                                             "&",
                                             "&#",
                                             "x",
                                             "http://h.example/",
                                             "<img src=",
                                             "<script>",
                                             "</script",
                                             "<style>",
                                             "<head>",
                                             "<textarea>",
                                             "</textarea>",
                                             "\xC3",
                                             "\xFF",
                                             "\0",
                                             " onload=",
                                             "style=",
                                             "url(",
                                             "<div style='",
                                             "javascript:",
                                             "<br>",
                                             "</br>",
                                             "<plaintext>"};
    std::mt19937 random(20261211);
    for (int round = 0; round < 3000; ++round) {
        std::string input;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i)
            input += pieces[random() % pieces.size()];
        const TSanitizedHtml out = SanitizeHtml(input);
        ASSERT_EQ(ProblemOf(out.Html), "") << "input: " << input << "\noutput: " << out.Html;
        const std::string lower = Lower(out.Html);
        ASSERT_EQ(lower.find("<script"), std::string::npos) << input;
        ASSERT_EQ(lower.find(" src=\""), std::string::npos) << input; // no image source among the pieces
        ASSERT_EQ(lower.find(" onload=\""), std::string::npos) << input;
        ASSERT_EQ(lower.find("href=\"javascript"), std::string::npos) << input;
    }
}

TEST(SanitizeHtml, PathologicalInputsStayLinear)
{
    using Clock = std::chrono::steady_clock;
    // Each input at two sizes: linear work takes about four times as long for four times the input,
    // quadratic work sixteen times. Comparing the two keeps the check apart from how fast the build
    // or the machine is (a sanitiser build runs several times slower).
    const auto inputsOf = [](std::size_t size) {
        return std::vector<std::pair<const char*, std::string>>{
            {"one long line", std::string(size, 'a')},
            {"open elements",
             [&] {
                 std::string s;
                 while (s.size() < size)
                     s += "<div><b>";
                 return s;
             }()},
            {"end tags",
             [&] {
                 std::string s = "<div>";
                 while (s.size() < size)
                     s += "</b></i>";
                 return s;
             }()},
            {"comment openers",
             [&] {
                 std::string s;
                 while (s.size() < size)
                     s += "<!-- ";
                 return s;
             }()},
            {"script openers",
             [&] {
                 std::string s;
                 while (s.size() < size)
                     s += "<script></scrip";
                 return s;
             }()},
            {"references",
             [&] {
                 std::string s;
                 while (s.size() < size)
                     s += "&#x0000000000041;&amp";
                 return s;
             }()},
            {"attributes", "<p " + std::string(size, 'a') + "=" + std::string(size, 'b')},
            {"style declarations", "<p style=\"" +
                                       [&] {
                                           std::string s;
                                           while (s.size() < size)
                                               s += "color:red;url(";
                                           return s;
                                       }() +
                                       "\">"},
        };
    };
    const auto small = inputsOf(1u << 20);
    const auto large = inputsOf(4u << 20);
    for (std::size_t i = 0; i < large.size(); ++i) {
        const char* name = large[i].first;
        double seconds[2] = {};
        for (int pass = 0; pass < 2; ++pass) {
            const std::string& input = (pass == 0 ? small : large)[i].second;
            const auto start = Clock::now();
            const TSanitizedHtml out = SanitizeHtml(input);
            seconds[pass] = std::chrono::duration<double>(Clock::now() - start).count();
            EXPECT_EQ(ProblemOf(out.Html), "") << name;
        }
        // A floor of 5 ms on the small input keeps timer noise out of the ratio.
        EXPECT_LT(seconds[1], 10 * std::max(seconds[0], 0.005)) << name;
    }
}

TEST(SanitizeStyle, DropsOnlyTheDeclarationsThatLoad)
{
    std::size_t blocked = 0;
    EXPECT_EQ(SanitizeStyle("color: red; background: URL( x.png ) no-repeat; font: 12px \"a;b\"", blocked),
              "color: red; font: 12px \"a;b\"");
    EXPECT_EQ(blocked, 1u);
    EXPECT_EQ(SanitizeStyle("list-style: image-set(\"a.png\" 1x); margin:0", blocked), "margin:0");
    EXPECT_EQ(blocked, 2u);
    EXPECT_EQ(SanitizeStyle("color:red /* unterminated", blocked), "color:red");
}

TEST(PlainTextToHtml, KeepsLinesAndMakesLinks)
{
    const std::string html =
        PlainTextToHtml("Line <1> & more\n  indented: see https://example.com/a?b=1&c=(2). Or "
                        "WWW.Example.org, mailto:me@example.com! javascript:alert(1) xhttp://no.example\n");
    EXPECT_EQ(ProblemOf(html), "") << html;
    EXPECT_NE(html.find("white-space: pre-wrap"), std::string::npos);
    EXPECT_NE(html.find("Line &lt;1&gt; &amp; more\n  indented"), std::string::npos) << html;
    EXPECT_NE(
        html.find("<a href=\"https://example.com/a?b=1&amp;c=(2)\">https://example.com/a?b=1&amp;c=(2)</a>."),
        std::string::npos)
        << html;
    EXPECT_NE(html.find("<a href=\"http://WWW.Example.org\">WWW.Example.org</a>,"), std::string::npos)
        << html;
    EXPECT_NE(html.find("<a href=\"mailto:me@example.com\">mailto:me@example.com</a>!"), std::string::npos);
    EXPECT_EQ(html.find("href=\"javascript"), std::string::npos);
    EXPECT_EQ(html.find("no.example\""), std::string::npos);
}

TEST(ClipPosition, NeverCutsATagAnEntityOrACharacter)
{
    struct TCase
    {
        const char* Html;
        std::size_t Limit;
        const char* Kept;
    };
    const TCase cases[] = {
        {"<p>short</p>", 100, "<p>short</p>"},               // nothing to cut
        {"<p>abcdef</p>", 6, "<p>abc"},                      // in the text
        {"<p>ab</p><b class=\"x\">cd</b>", 14, "<p>ab</p>"}, // inside a tag: before it
        {"<p>a&amp;b</p>", 6, "<p>a"},                       // inside an entity: before it
        {"<p>a&#8364;b</p>", 8, "<p>a"},
        {"<p>a&amp;b</p>", 9, "<p>a&amp;"},            // right after the entity
        {"<p>\xc3\xa4\xc3\xb6</p>", 6, "<p>\xc3\xa4"}, // inside a UTF-8 sequence
        {"<p>\xe2\x82\xac</p>", 5, "<p>"},
    };
    for (const auto& c : cases) {
        const std::string html = c.Html;
        EXPECT_EQ(html.substr(0, ClipPosition(html, c.Limit)), c.Kept) << c.Html << " at " << c.Limit;
    }
    // A long line of text is cut near the limit, not at its start.
    const std::string line = "<pre>" + std::string(100000, 'x') + "</pre>";
    EXPECT_EQ(ClipPosition(line, 5000), 5000u);
}
