#include "retrieval/TParsedHeader.h"

#include <algorithm>
#include <ctime>
#include <ostream>
#include <thread>

#include <gtest/gtest.h>

#include "core/TextUtils.h"
#include "support/TScopedTimeZone.h"
#include "support/TTempHome.h"

using namespace tarnwick::retrieval;
using tarnwick::test::TScopedTimeZone;
using namespace std::string_literals;

namespace {

constexpr std::int64_t NoDate = TParsedHeader::NoDate;

std::int64_t Utc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<std::int64_t>(timegm(&tm)) * 1000;
}

// Every field but the raw lines must be valid UTF-8, and what is shown on one line must hold no
// control characters.
void ExpectCleanFields(const TParsedHeader& h, const std::string& label)
{
    for (const std::string* text : {&h.FromName, &h.FromAddress, &h.FromText, &h.ToText, &h.CcText,
                                    &h.Subject, &h.Organization, &h.MessageId, &h.Priority})
        EXPECT_TRUE(tarnwick::core::IsValidUtf8(*text)) << label << ": " << *text;
    for (const std::string* text :
         {&h.FromName, &h.FromAddress, &h.FromText, &h.ToText, &h.CcText, &h.Subject, &h.Organization})
        for (const char c : *text)
            EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << label << ": " << *text;
}

struct TFieldCase
{
    const char* Name;
    std::string Header; // lines separated by "\n"
    const char* Field;  // which field is checked
    std::string Expected;
};

// A failure names the case and shows its header rather than the bytes of the struct.
void PrintTo(const TFieldCase& c, std::ostream* os)
{
    *os << c.Name << ": " << c.Header;
}

std::string FieldOf(const TParsedHeader& h, std::string_view field)
{
    if (field == "FromName")
        return h.FromName;
    if (field == "FromAddress")
        return h.FromAddress;
    if (field == "FromText")
        return h.FromText;
    if (field == "ToText")
        return h.ToText;
    if (field == "CcText")
        return h.CcText;
    if (field == "Subject")
        return h.Subject;
    if (field == "Organization")
        return h.Organization;
    if (field == "MessageId")
        return h.MessageId;
    if (field == "Priority")
        return h.Priority;
    ADD_FAILURE() << "no field " << field;
    return {};
}

class ParseFieldTest : public ::testing::TestWithParam<TFieldCase>
{};

} // namespace

TEST_P(ParseFieldTest, DecodesTheFieldToUtf8)
{
    const TFieldCase& c = GetParam();
    const TParsedHeader h = ParseMessageText(c.Header);
    EXPECT_EQ(FieldOf(h, c.Field), c.Expected);
    ExpectCleanFields(h, c.Name);
}

INSTANTIATE_TEST_SUITE_P(
    EncodedWords, ParseFieldTest,
    ::testing::Values(
        TFieldCase{"Utf8Base64", "Subject: =?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=", "Subject",
                   "Gr\u00fc\u00dfe aus K\u00f6ln"},
        TFieldCase{"Latin1QuotedPrintable", "Subject: =?iso-8859-1?q?caf=E9_cr=E8me?=", "Subject",
                   "caf\u00e9 cr\u00e8me"},
        TFieldCase{"Koi8r", "Subject: =?koi8-r?B?7NXe28nKIA==?= ok", "Subject",
                   "\u041b\u0443\u0447\u0448\u0438\u0439  ok"},
        TFieldCase{"Windows1252Quotes", "Subject: =?windows-1252?Q?=93quoted=94_=80?=", "Subject",
                   "\u201cquoted\u201d \u20ac"},
        TFieldCase{"Iso2022Jp", "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=", "Subject",
                   "\u65e5\u672c\u8a9e"},
        TFieldCase{"AdjacentWordsJoinAcrossTheFold", "Subject: =?utf-8?q?ab?=\n =?utf-8?q?cd?=", "Subject",
                   "abcd"},
        TFieldCase{"WordInsideText", "Subject: Re: =?utf-8?q?=C3=A9t=C3=A9?= 2003", "Subject",
                   "Re: \u00e9t\u00e9 2003"},
        TFieldCase{"UnterminatedWordStaysAsWritten", "Subject: =?utf-8?B?abc", "Subject", "=?utf-8?B?abc"},
        TFieldCase{"EncodedDisplayName", "From: =?ISO-8859-1?Q?J=F6rg_M=FCller?= <joerg@example.de>",
                   "FromText", "J\u00f6rg M\u00fcller <joerg@example.de>"},
        TFieldCase{"EncodedOrganization", "Organization: =?utf-8?b?xZrDs2TFgg==?=", "Organization",
                   "\u015a\u00f3d\u0142"}),
    [](const auto& info) { return std::string(info.param.Name); });

// GMime alone joins the payloads of adjacent base64 words of one charset before decoding them and
// stops at the first padding, so these lost everything after the first word.
INSTANTIATE_TEST_SUITE_P(
    AdjacentEncodedWords, ParseFieldTest,
    ::testing::Values(
        TFieldCase{"OnePadEach", "Subject: =?UTF-8?B?YWI=?= =?UTF-8?B?Y2Q=?=", "Subject", "abcd"},
        TFieldCase{"TwoPadsEach", "Subject: =?UTF-8?B?YQ==?= =?UTF-8?B?Yg==?= =?UTF-8?B?Yw==?=", "Subject",
                   "abc"},
        TFieldCase{"NoPadding", "Subject: =?UTF-8?B?YWI?= =?UTF-8?B?Y2Q?=", "Subject", "abcd"},
        TFieldCase{"NoBlankBetween", "Subject: =?UTF-8?B?YWJj?==?UTF-8?B?ZA==?==?UTF-8?B?ZQ?=", "Subject",
                   "abcde"},
        TFieldCase{"TabAndBlanksBetween",
                   "Subject: =?utf-8?b?YWI=?=\t =?utf-8?b?Y2Q=?=  \t=?utf-8?b?ZQ==?=", "Subject", "abcde"},
        TFieldCase{"FoldedBetween", "Subject: =?utf-8?b?YWI=?=\r\n =?utf-8?b?Y2Q=?=\r\n\t=?utf-8?b?ZQ==?=",
                   "Subject", "abcde"},
        TFieldCase{"QAndBMixed", "Subject: =?UTF-8?Q?a_?= =?UTF-8?b?YmM=?= =?utf-8?q?=c3=a9?=", "Subject",
                   "a bc\u00e9"},
        TFieldCase{"LanguageAfterCharset",
                   "Subject: =?UTF-8*en?Q?Hello?= =?utf-8*en-US?B?IHdvcmxk?=", "Subject", "Hello world"},
        // The words split "Скидка 500 рублей" every seven bytes: each cut falls inside a character.
        TFieldCase{"CharactersSplitAcrossPaddedWords",
                   "Subject: =?UTF-8?B?0KHQutC40A==?= =?UTF-8?B?tNC60LAgNQ==?=\n =?UTF-8?B?MDAg0YDRgw==?=\n"
                   " =?UTF-8?B?0LHQu9C10A==?= =?UTF-8?B?uQ==?=",
                   "Subject",
                   "\u0421\u043a\u0438\u0434\u043a\u0430 500 \u0440\u0443\u0431\u043b\u0435\u0439"},
        TFieldCase{"StatefulCharsetAcrossWords",
                   "Subject: =?ISO-2022-JP?B?GyRCRnxLXBsoQg==?= =?ISO-2022-JP?B?GyRCOGwbKEI=?=", "Subject",
                   "\u65e5\u672c\u8a9e"},
        TFieldCase{"Windows1251Words", "Subject: =?windows-1251?B?z/Do4uXyLCA=?= =?windows-1251?B?7Ojw?=",
                   "Subject", "\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440"},
        TFieldCase{"Koi8rBAndQ", "Subject: =?KOI8-R?B?7NXe28nK?= =?koi8-r?Q?_=CD=C9=D2?=", "Subject",
                   "\u041b\u0443\u0447\u0448\u0438\u0439 \u043c\u0438\u0440"},
        TFieldCase{"CharsetsChangeBetweenWords", "Subject: =?koi8-r?b?7NXe28nK?= =?iso-8859-1?q?_caf=E9?=",
                   "Subject", "\u041b\u0443\u0447\u0448\u0438\u0439 caf\u00e9"},
        TFieldCase{"TextBetweenWordsKeepsItsBlanks", "Subject: =?utf-8?b?YWI=?= und  =?utf-8?b?Y2Q=?= .",
                   "Subject", "ab und  cd ."},
        TFieldCase{"WordsTouchingText", "Subject: Re:=?utf-8?b?YWI=?==?utf-8?b?Y2Q=?=!", "Subject",
                   "Re:abcd!"},
        TFieldCase{"DecodedControlsAcrossWords",
                   "Subject: =?utf-8?b?YQ0=?= =?utf-8?b?CmI=?= =?utf-8?q?=00c?=", "Subject", "a  b c"},
        TFieldCase{"Organization", "Organization: =?UTF-8?B?WsO8cmljaA==?= =?UTF-8?B?IEFH?=", "Organization",
                   "Z\u00fcrich AG"},
        TFieldCase{"DisplayName", "From: =?UTF-8?B?SsO2cmc=?= =?UTF-8?B?IE3DvGxsZXI=?= <j@example.de>",
                   "FromText", "J\u00f6rg M\u00fcller <j@example.de>"},
        TFieldCase{"DisplayNameQuoted",
                   "From: \"=?UTF-8?B?SsO2cmc=?= =?UTF-8?B?IE3DvGxsZXI=?=\" <j@example.de>", "FromName",
                   "J\u00f6rg M\u00fcller"},
        TFieldCase{"DisplayNameQuotedWithText",
                   "From: \"Dr. =?UTF-8?B?SsO2cmc=?= =?UTF-8?B?IE3DvGxsZXI=?=\" <j@example.de>", "FromName",
                   "Dr. J\u00f6rg M\u00fcller"},
        TFieldCase{"DisplayNameInComment",
                   "From: j@example.de (=?UTF-8?B?SsO2cmc=?= =?UTF-8?B?IE3DvGxsZXI=?=)", "FromText",
                   "J\u00f6rg M\u00fcller <j@example.de>"},
        TFieldCase{"SenderWithoutMailbox", "From: =?utf-8?b?Sm9obg==?= =?utf-8?b?IFNtaXRo?=", "FromText",
                   "John Smith"},
        TFieldCase{"RecipientNames",
                   "To: =?utf-8?b?YWI=?= =?utf-8?b?Y2Q=?= <a@example.com>,\n =?utf-8?b?ZWY=?=\n"
                   " =?utf-8?b?Zw==?= <b@example.com>",
                   "ToText", "abcd <a@example.com>, efg <b@example.com>"},
        TFieldCase{"CopyNamesAndGroups",
                   "Cc: =?utf-8?b?VGVh?= =?utf-8?b?bQ==?=:;, =?utf-8?b?YQ==?= =?utf-8?b?Yg==?= <c@d.e>",
                   "CcText", "Team:;, ab <c@d.e>"},
        // Addresses are never decoded: what looks like a word there stays as written.
        TFieldCase{"WordsInAnAddressStay", "To: <=?utf-8?b?YQ==?==?utf-8?b?Yg==?=@example.com>", "ToText",
                   "=?utf-8?b?YQ==?==?utf-8?b?Yg==?=@example.com"},
        TFieldCase{"WordAsAddressStays", "From: =?utf-8?q?x?=", "FromAddress", "=?utf-8?q?x?="}),
    [](const auto& info) { return std::string(info.param.Name); });

// An unknown charset falls back to the reading of undeclared text, a byte the charset does not have
// is shown as "?"; a word that is not sound is kept as written, blanks beside it included, and the
// words around it are decoded.
INSTANTIATE_TEST_SUITE_P(
    DoubtfulEncodedWords, ParseFieldTest,
    ::testing::Values(
        TFieldCase{"UnknownCharsetWindows1252", "Subject: =?x-unknown?q?caf=E9?=", "Subject", "caf\u00e9"},
        TFieldCase{"UnknownCharsetUtf8", "Subject: =?x-unknown?b?Y2Fmw6k=?= =?x-unknown?q?!?=", "Subject",
                   "caf\u00e9!"},
        TFieldCase{"BytesTheCharsetLacks",
                   "Subject: =?utf-8?q?caf=E9?= =?utf-8?q?_cr=C3=A8me_=E2=82?= =?us-ascii?q?=E9t=E9?=",
                   "Subject", "caf? cr\u00e8me ???t?"},
        TFieldCase{"UnknownCharsetInName", "From: John =?x-unknown?q?caf=E9?= <a@example.com>", "FromName",
                   "John caf\u00e9"},
        TFieldCase{"BadBase64StaysAsWritten", "Subject: =?utf-8?b?YWI=?= =?utf-8?b?Y*Q=?= =?utf-8?b?ZQ==?=",
                   "Subject", "ab =?utf-8?b?Y*Q=?= e"},
        TFieldCase{"Base64CutShortStaysAsWritten", "Subject: x =?utf-8?b?YWJjZ?=", "Subject",
                   "x =?utf-8?b?YWJjZ?="},
        // "?\?=": "??=" would be a trigraph.
        TFieldCase{"EmptyPayloadStaysAsWritten", "Subject: a =?utf-8?q?\?= =?utf-8?b?\?= b", "Subject",
                   "a =?utf-8?q?\?= =?utf-8?b?\?= b"},
        TFieldCase{"UnclosedAfterAWord", "Subject: =?utf-8?b?YWI=?= =?utf-8?b?Y2Q=", "Subject",
                   "ab =?utf-8?b?Y2Q="},
        TFieldCase{"LoneEqualsInQ", "Subject: =?utf-8?q?50=_off_=3D_=4?=", "Subject", "50= off = =4"},
        TFieldCase{"BadWordInAName", "From: =?utf-8?b?YQ==?= =?utf-8?b?%?= <a@example.com>", "FromName",
                   "a =?utf-8?b?%?="}),
    [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    RawEightBit, ParseFieldTest,
    ::testing::Values(
        TFieldCase{"Latin1Subject",
                   "Subject: Gr\xfc\xdf"
                   "e",
                   "Subject", "Gr\u00fc\u00dfe"},
        TFieldCase{"Utf8Subject",
                   "Subject: Gr\xc3\xbc\xc3\x9f"
                   "e",
                   "Subject", "Gr\u00fc\u00dfe"},
        TFieldCase{"Windows1252Euro", "Subject: 5 \x80", "Subject", "5 \u20ac"},
        TFieldCase{"Latin1DisplayName", "From: J\xf6rg <j@example.de>", "FromName", "J\u00f6rg"},
        TFieldCase{"Utf8DisplayName", "From: \"J\xc3\xb6rg\" <j@example.de>", "FromName", "J\u00f6rg"},
        TFieldCase{"Latin1MessageIdBecomesUtf8", "Message-Id: <caf\xe9@x>", "MessageId", "<caf\u00e9@x>"}),
    [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Addresses, ParseFieldTest,
    ::testing::Values(
        TFieldCase{"QuotedNameWithComma", "From: \"Smith, John\" <john@example.com>", "FromText",
                   "Smith, John <john@example.com>"},
        TFieldCase{"AddressAlone", "From: john@example.com", "FromText", "john@example.com"},
        TFieldCase{"AngleAddressAlone", "From: <john@example.com>", "FromText", "john@example.com"},
        TFieldCase{"CommentAsName", "From: john@example.com (John Smith)", "FromText",
                   "John Smith <john@example.com>"},
        TFieldCase{"CommentAfterAddressIsNotTheName", "From: John <john@example.com> (work)", "FromName",
                   "John"},
        TFieldCase{"NameWithoutAddress", "From: John Smith", "FromText", "John Smith"},
        TFieldCase{"NameWithoutAddressHasNoAddress", "From: John Smith", "FromAddress", ""},
        TFieldCase{"FirstMailboxIsTheSender", "From: a@example.com, B <b@example.com>", "FromAddress",
                   "a@example.com"},
        TFieldCase{"SenderInsideAGroup", "From: Team: Ann <ann@example.com>;", "FromText",
                   "Ann <ann@example.com>"},
        TFieldCase{"SeveralRecipients",
                   "To: Ann <ann@example.com>, bob@example.com,\n \"C, D\" <cd@example.com>", "ToText",
                   "Ann <ann@example.com>, bob@example.com, C, D <cd@example.com>"},
        TFieldCase{"EmptyGroupShowsItsName", "To: undisclosed-recipients:;", "ToText",
                   "undisclosed-recipients:;"},
        TFieldCase{"GroupMembersInPlace",
                   "Cc: x@example.com, Team: a@example.com, B <b@example.com>;, c@example.com", "CcText",
                   "x@example.com, a@example.com, B <b@example.com>, c@example.com"},
        TFieldCase{"EmptyEntriesSkipped", "To: a@example.com, , b@example.com", "ToText",
                   "a@example.com, b@example.com"},
        TFieldCase{"UnclosedAngleBracket", "To: Bob <bob@example.com", "ToText", "Bob <bob@example.com>"}),
    [](const auto& info) { return std::string(info.param.Name); });

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseFieldTest,
    ::testing::Values(
        TFieldCase{"FoldedSubject", "Subject: one\r\n two\r\n\tthree", "Subject", "one two three"},
        TFieldCase{"FoldedSender", "From: \"Long Name\"\n\t<long@example.com>", "FromText",
                   "Long Name <long@example.com>"},
        TFieldCase{"NamesIgnoreCase", "SUBJECT: loud", "Subject", "loud"},
        TFieldCase{"BlankBeforeColon", "Subject : obsolete", "Subject", "obsolete"},
        TFieldCase{"FirstOccurrenceWins", "Subject: first\nSubject: second", "Subject", "first"},
        TFieldCase{"OtherFieldsAreNotTaken", "Resent-From: r@example.com\nX-Subject: no", "Subject", ""},
        TFieldCase{"FoldOfAnotherFieldIsNotAppended", "Subject: s\nX-Other: o\n continued", "Subject", "s"},
        TFieldCase{"MessageIdTrimmedAndKept", "Message-ID:   <a.b@example.com>  ", "MessageId",
                   "<a.b@example.com>"},
        TFieldCase{"FoldedMessageId", "Message-ID:\n <a.b@example.com>", "MessageId", "<a.b@example.com>"},
        TFieldCase{"PriorityPreferred", "X-Priority: 1\nPriority: urgent", "Priority", "urgent"},
        TFieldCase{"EmptyPriorityFallsBack", "Priority:   \nX-Priority: 2 (High)", "Priority", "2 (High)"},
        TFieldCase{"NoPriority", "Subject: x", "Priority", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ParseHeader, LinesStayAsReceivedWhileFieldsAreUnfolded)
{
    const std::vector<std::string> lines = {"Subject: a", "\tb", "X-Odd line", std::string("X-Nul: \0", 8)};
    const TParsedHeader h = ParseHeader(lines, true);
    EXPECT_EQ(h.Lines, lines);
    EXPECT_EQ(h.Subject, "a b");
    EXPECT_TRUE(h.HasBody);
}

TEST(ParseHeader, Dates)
{
    struct
    {
        const char* Date;
        std::int64_t Expected;
    } cases[] = {
        {"Tue, 1 Jul 2003 10:52:37 +0200", Utc(2003, 7, 1, 8, 52, 37)},
        {"Tue,  1 Jul 2003 10:52:37 +0200 (CEST)", Utc(2003, 7, 1, 8, 52, 37)},
        {"1 Jul 2003 10:52:37 -0330", Utc(2003, 7, 1, 14, 22, 37)},
        // Obsolete forms: two-digit years, named zones, no seconds, no weekday.
        {"1 Jul 03 10:52 EST", Utc(2003, 7, 1, 15, 52, 0)},
        {"Thu, 31 Dec 99 23:59:59 GMT", Utc(1999, 12, 31, 23, 59, 59)},
        {"1 Jul 2003 10:52:37 PDT", Utc(2003, 7, 1, 17, 52, 37)},
        {"1 Jul 2003 10:52:37 UT", Utc(2003, 7, 1, 10, 52, 37)},
        // Absurd values: a defined result, never a crash.
        {"1 Jan 0 00:00:00 +0000", Utc(2000, 1, 1, 0, 0, 0)},
        {"1 Jan 99999 00:00:00 +0000", NoDate},
        {"1 Jan 2003 00:00:00 +9999", Utc(2003, 1, 1, 0, 0, 0)},
        {"31 Feb 2003 00:00:00 +0000", NoDate},
        {"1 Jul 2003 25:61:61 +0000", NoDate},
        {"31 Dec 9999 23:59:59 -1200", Utc(9999, 12, 31, 23, 59, 59) + 12LL * 3600 * 1000},
        {"yesterday", NoDate},
        {"", NoDate},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseMessageText(std::string("Date: ") + c.Date).Date, c.Expected) << c.Date;
    EXPECT_EQ(ParseMessageText("Subject: no date").Date, NoDate);
}

TEST(ParseMessageText, SplitsHeaderFromBody)
{
    struct
    {
        const char* Name;
        std::string Text;
        std::vector<std::string> Lines;
        bool HasBody;
    } cases[] = {
        {"CrLf", "A: 1\r\nB: 2\r\n\r\nbody\r\n", {"A: 1", "B: 2"}, true},
        {"Lf", "A: 1\nB: 2\n\nbody", {"A: 1", "B: 2"}, true},
        {"HeaderOnly", "A: 1\r\nB: 2\r\n", {"A: 1", "B: 2"}, false},
        {"NoFinalLineEnd", "A: 1\nB: 2", {"A: 1", "B: 2"}, false},
        {"EmptyLineAtTheEndIsNoBody", "A: 1\n\n", {"A: 1"}, false},
        {"EmptyBodyLineIsABody", "A: 1\n\n\n", {"A: 1"}, true},
        {"LoneCrIsKept", "A: 1\rX\n", {"A: 1\rX"}, false},
        {"Empty", "", {}, false},
        {"StartsWithEmptyLine", "\nA: 1\n", {}, true},
    };
    for (const auto& c : cases) {
        const TParsedHeader h = ParseMessageText(c.Text);
        EXPECT_EQ(h.Lines, c.Lines) << c.Name;
        EXPECT_EQ(h.HasBody, c.HasBody) << c.Name;
    }
}

TEST(ParseHeader, BadInputGivesDefinedCleanFields)
{
    std::string manyRecipients = "To: ";
    for (int i = 0; i < 5000; ++i)
        manyRecipients +=
            (i ? ", " : "") + ("R" + std::to_string(i) + " <r" + std::to_string(i) + "@example.com>");
    std::string foldedMegabyte = "Subject: start";
    for (int i = 0; i < 20000; ++i)
        foldedMegabyte += "\n =?utf-8?q?w=C3=B6rd_" + std::to_string(i) + "?=";
    const std::string longLine = "Subject: " + std::string(1 << 20, 'x');

    struct
    {
        const char* Name;
        std::string Text;
    } cases[] = {
        {"NulBytes", "From: A\0B <a@b.c>\nSubject: x\0y\nMessage-Id: <a\0b>\nDate: 1 Jul 2003\0"s},
        {"InvalidUtf8InEncodedWord", "Subject: =?utf-8?q?bad=FF=FE=C3?=\nFrom: =?utf-8?b?/w==?= <a@b.c>"},
        {"UnknownCharset", "Subject: =?x-nonsense?q?a=E9?="},
        {"UnterminatedWords", "Subject: =?utf-8?q?abc\nFrom: =?utf-8?B?"},
        {"ControlCharactersDecoded", "Subject: =?utf-8?q?line=0D=0Abreak=09tab=7F?="},
        {"Truncated multibyte", "Subject: \xe2\x82\nFrom: \xf0\x9f <a@b.c>"},
        {"Garbage addresses", "From: <<<>>>,,,;;;:::\"\"\"\nTo: ;:,@@@<>\nCc: \"unclosed <a@b"},
        {"Colons only", ":\n:::\n : \n\t"},
        {"ThousandsOfRecipients", manyRecipients},
        {"FoldedMegabyte", foldedMegabyte},
        {"MegabyteLine", longLine},
    };
    for (const auto& c : cases) {
        const TParsedHeader h = ParseMessageText(c.Text);
        ExpectCleanFields(h, c.Name);
    }

    const TParsedHeader nul = ParseMessageText(cases[0].Text);
    EXPECT_EQ(nul.Subject, "x y");
    EXPECT_EQ(nul.FromText, "A B <a@b.c>");
    EXPECT_EQ(nul.MessageId, std::string("<a\0b>", 5)) << "kept as written; the cache name escapes it";
    EXPECT_EQ(ParseMessageText(cases[4].Text).Subject, "line  break tab");
    const TParsedHeader many = ParseMessageText(manyRecipients);
    EXPECT_EQ(many.ToText.substr(0, 36), "R0 <r0@example.com>, R1 <r1@example.")
        << "every mailbox is written like the sender";
    EXPECT_EQ(std::count(many.ToText.begin(), many.ToText.end(), '@'), 5000);
    const TParsedHeader folded = ParseMessageText(foldedMegabyte);
    EXPECT_EQ(folded.Subject.substr(0, 20), "start w\u00f6rd 0w\u00f6rd 1");
    EXPECT_EQ(folded.Lines.size(), 20001u);
    EXPECT_EQ(ParseMessageText(longLine).Subject.size(), std::size_t{1} << 20);
}

TEST(CacheName, EscapesEveryByteButTheSafeOnes)
{
    struct
    {
        std::string MessageId;
        std::string Expected;
    } cases[] = {
        {"<x y>", "~60x~32y~62"},
        {"<1234.abc@mail.example.com>", "~601234.abc@mail.example.com~62"},
        {"!#$%&'()-.^_`{}@AZaz09", "!#$%&'()-.^_`{}@AZaz09"},
        {"~+/\\:*?\"|", "~126~43~47~92~58~42~63~34~124"},
        {"\u00e9", "~195~169"},
        {std::string("a\0\tb", 4), "a~0~9b"},
    };
    for (const auto& c : cases) {
        TParsedHeader h;
        h.MessageId = c.MessageId;
        EXPECT_EQ(CacheNameOf(h), c.Expected) << c.MessageId;
    }
}

TEST(CacheName, WithoutMessageIdUsesSenderAndLocalDate)
{
    const std::string text = "From: Bob Smith <bob@example.com>\nDate: Wed, 31 Dec 2003 23:30:00 -0500\n";
    struct
    {
        const char* Zone;
        const char* Expected;
    } cases[] = {
        {"UTC0", "MsgIDPrefixBob~32Smithbob@example.com01-01-2004"},
        {"EST5", "MsgIDPrefixBob~32Smithbob@example.com31-12-2003"},
    };
    for (const auto& c : cases) {
        TScopedTimeZone zone(c.Zone);
        EXPECT_EQ(CacheNameOf(ParseMessageText(text)), c.Expected) << c.Zone;
    }
    EXPECT_EQ(CacheNameOf(ParseMessageText("From: bob@example.com\nMessage-Id:  \n")),
              "MsgIDPrefixbob@example.com")
        << "no date: nothing stands for it";
    EXPECT_EQ(CacheNameOf(ParseMessageText("Subject: nothing")), "MsgIDPrefix");
}

TEST(CacheName, OverlongNamesAreCutAndKeptApart)
{
    TParsedHeader a, b, limit;
    a.MessageId = "<" + std::string(300, 'a') + "1>";
    b.MessageId = "<" + std::string(300, 'a') + "2>";
    limit.MessageId = std::string(MaxCacheNameLength, 'c');
    const std::string nameA = CacheNameOf(a), nameB = CacheNameOf(b);
    EXPECT_LE(nameA.size(), MaxCacheNameLength);
    EXPECT_EQ(nameA.substr(0, 6), "~60aaa");
    EXPECT_NE(nameA.find("~~"), std::string::npos);
    EXPECT_NE(nameA, nameB);
    EXPECT_EQ(nameA, CacheNameOf(a)) << "the same message always gets the same name";
    EXPECT_EQ(CacheNameOf(limit), limit.MessageId);

    // The cut never splits an escape.
    TParsedHeader spaces;
    spaces.MessageId = std::string(300, ' ');
    const std::string name = CacheNameOf(spaces);
    EXPECT_EQ(name.substr(name.size() - 18 - 3, 3), "~32");
}

TEST(ParseHeader, WorkerThreadsParseAtTheSameTime)
{
    // The download workers build records concurrently from the first message on; the decoder's
    // one-time set-up must be safe under that.
    const std::string text =
        "From: =?iso-8859-1?q?J=F6rg?= <j@example.de>\nTo: a@example.com, Team: b@example.com;\n"
        "Subject: =?utf-8?b?R3LDvMOfZQ==?=\nDate: 1 Jul 2003 10:52:37 +0000\n";
    std::vector<std::string> subjects(4), senders(4);
    {
        std::vector<std::jthread> workers;
        for (std::size_t i = 0; i < subjects.size(); ++i)
            workers.emplace_back([&, i] {
                for (int n = 0; n < 50; ++n) {
                    const TParsedHeader h = ParseMessageText(text);
                    subjects[i] = h.Subject;
                    senders[i] = h.FromText + " / " + h.ToText;
                }
            });
    }
    for (std::size_t i = 0; i < subjects.size(); ++i) {
        EXPECT_EQ(subjects[i], "Gr\u00fc\u00dfe");
        EXPECT_EQ(senders[i], "J\u00f6rg <j@example.de> / a@example.com, b@example.com");
    }
}
