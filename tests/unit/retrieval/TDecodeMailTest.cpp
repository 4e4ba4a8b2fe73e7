#include "retrieval/TDecodeMail.h"

#include <gtest/gtest.h>

#include "retrieval/HeaderText.h"
#include "support/TScopedTimeZone.h"
#include "support/TTempHome.h"

using namespace tarnwick::retrieval;
using tarnwick::accounts::PriorityHigh;
using tarnwick::accounts::PriorityLow;
using tarnwick::accounts::PriorityNormal;
using tarnwick::accounts::TMailMessage;
using tarnwick::test::Fixture;
using tarnwick::test::ReadFileBytes;
using tarnwick::test::TScopedTimeZone;

TEST(Priority, FromThePriorityText)
{
    struct
    {
        const char* Text;
        std::int32_t Expected;
    } cases[] = {
        {"1 (Highest)", PriorityHigh},
        {"2 (High)", PriorityNormal},
        {"3 (Normal)", PriorityNormal},
        {"4 (Low)", PriorityNormal},
        {"5 (Lowest)", PriorityLow},
        {"5", PriorityLow},
        {"1", PriorityHigh},
        {" \t1\t(Highest)", PriorityHigh},
        {"01", PriorityHigh},
        {"+1", PriorityHigh},
        {"1(Highest)", PriorityNormal}, // the first word is no number
        {"urgent", PriorityNormal},
        {"URGENT", PriorityNormal},
        {"1 urgent", PriorityNormal}, // "urgent" wins over the number
        {"5 non-urgent", PriorityNormal},
        {"Non-Priority 5", PriorityNormal},
        {"high", PriorityNormal},
        {"", PriorityNormal},
        {"99999999999", PriorityNormal},
        {"-1", PriorityNormal},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PriorityOf(c.Text), c.Expected) << '"' << c.Text << '"';
}

TEST(Priority, HeaderChoiceAndValueTogether)
{
    struct
    {
        const char* Header;
        std::int32_t Expected;
    } cases[] = {
        {"X-Priority: 1 (Highest)", PriorityHigh},
        {"X-Priority: 2 (High)", PriorityNormal},
        {"Priority: urgent\nX-Priority: 1", PriorityNormal},
        {"X-Priority: 5", PriorityLow},
        {"Subject: none", PriorityNormal},
        {"Priority:\nX-Priority: 5", PriorityLow},
        {"X-Priority: 1\nPriority: non-urgent", PriorityNormal},
        {"x-priority:\n 1", PriorityHigh},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PriorityOf(ParseMessageText(c.Header).Priority), c.Expected) << c.Header;
}

TEST(Attachments, LastContentTypeLineDecidesCaseSensitively)
{
    struct
    {
        const char* Name;
        std::vector<std::string> Lines;
        bool Expected;
    } cases[] = {
        {"Mixed", {"Content-Type: multipart/mixed; boundary=x"}, true},
        {"CapitalsDoNotCount", {"Content-Type: Multipart/Mixed; boundary=x"}, false},
        {"LaterTextPlainOverrides", {"Content-Type: multipart/mixed", "Content-Type: text/plain"}, false},
        {"LaterMixedCounts", {"Content-Type: text/plain", "CONTENT-TYPE: multipart/mixed"}, true},
        {"Alternative", {"Content-Type: multipart/alternative"}, false},
        {"NoContentType", {"Subject: multipart/mixed"}, false},
        {"FoldedValueNotSeen", {"Content-Type:", " multipart/mixed; boundary=x"}, false},
        {"AnyLineMentioningIt", {"Content-Type: text/plain", "X-Note: content-type multipart/mixed"}, true},
        {"NoLines", {}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HasAttachmentsOf(c.Lines), c.Expected) << c.Name;
}

TEST(DecodeMail, FillsTheRecordFromTheParsedHeaderAndArguments)
{
    TParsedHeader parsed =
        ParseMessageText("From: Ann <ann@example.com>\nTo: b@example.com\nCc: c@example.com\n"
                         "Subject: hi\nOrganization: Org\nDate: 1 Jul 2003 10:52:37 +0000\n"
                         "X-Priority: 5\nContent-Type: multipart/mixed\n\nbody\n");
    TDecodeMail decoder;
    decoder.Record().Trashed = true;
    const TMailMessage& r = decoder.Decode(parsed, 1234, 7, "name");
    EXPECT_EQ(r.Headers, parsed.Lines);
    EXPECT_EQ(r.Priority, PriorityLow);
    EXPECT_TRUE(r.HasAttachments);
    EXPECT_EQ(r.FromName, "Ann");
    EXPECT_EQ(r.FromText, "Ann <ann@example.com>");
    EXPECT_EQ(r.FromAddress, "ann@example.com");
    EXPECT_EQ(r.ToText, "b@example.com");
    EXPECT_EQ(r.CcText, "c@example.com");
    EXPECT_EQ(r.Subject, "hi");
    EXPECT_EQ(r.Organization, "Org");
    EXPECT_EQ(r.Sent, 1057056757000);
    EXPECT_EQ(r.Size, 1234);
    EXPECT_EQ(r.Number, 7);
    EXPECT_EQ(r.CacheName, "name");
    EXPECT_TRUE(r.Fetched);
    EXPECT_FALSE(r.Trashed);
    EXPECT_EQ(r.UniqueId, "");

    TDecodeMail taking;
    const TMailMessage& taken = taking.Decode(TParsedHeader(parsed), 1234, 7, "name");
    EXPECT_EQ(taken.Headers, r.Headers) << "taking over the lines gives the same record";
    EXPECT_EQ(taken.HasAttachments, r.HasAttachments);
    EXPECT_EQ(taken.FromText, r.FromText);
    EXPECT_EQ(taken.Subject, r.Subject);

    decoder.PrefixSubject("[SPAM] ");
    EXPECT_EQ(decoder.Record().Subject, "[SPAM] hi");
    parsed.HasBody = false;
    EXPECT_FALSE(decoder.Decode(parsed, 0, 1, "").Fetched);
    EXPECT_EQ(decoder.Record().Subject, "hi") << "a new record replaces the held one";
}

namespace {

struct TFixtureCase
{
    const char* File;
    TMailMessage Expected;
};

class FixtureRecordTest : public ::testing::TestWithParam<TFixtureCase>
{};

TMailMessage Expect(std::int32_t priority, bool attachments, std::string fromName, std::string fromAddress,
                    std::string fromText, std::string to, std::string cc, std::string subject,
                    std::string organization, std::int64_t sent, bool fetched, std::string cacheName)
{
    TMailMessage m;
    m.Priority = priority;
    m.HasAttachments = attachments;
    m.FromName = std::move(fromName);
    m.FromAddress = std::move(fromAddress);
    m.FromText = std::move(fromText);
    m.ToText = std::move(to);
    m.CcText = std::move(cc);
    m.Subject = std::move(subject);
    m.Organization = std::move(organization);
    m.Sent = sent;
    m.Fetched = fetched;
    m.CacheName = std::move(cacheName);
    return m;
}

} // namespace

TEST_P(FixtureRecordTest, BuildsTheRecordAUserSees)
{
    TScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const TFixtureCase& c = GetParam();
    const std::string text = ReadFileBytes(Fixture(std::string("messages/") + c.File));
    const TParsedHeader parsed = ParseMessageText(text);
    TDecodeMail decoder;
    const TMailMessage& r =
        decoder.Decode(parsed, static_cast<std::int32_t>(text.size()), 3, CacheNameOf(parsed));
    const TMailMessage& e = c.Expected;
    EXPECT_EQ(r.Priority, e.Priority);
    EXPECT_EQ(r.HasAttachments, e.HasAttachments);
    EXPECT_EQ(r.FromName, e.FromName);
    EXPECT_EQ(r.FromAddress, e.FromAddress);
    EXPECT_EQ(r.FromText, e.FromText);
    EXPECT_EQ(r.ToText, e.ToText);
    EXPECT_EQ(r.CcText, e.CcText);
    EXPECT_EQ(r.Subject, e.Subject);
    EXPECT_EQ(r.Organization, e.Organization);
    EXPECT_EQ(r.Sent, e.Sent);
    EXPECT_EQ(r.Fetched, e.Fetched);
    EXPECT_EQ(r.CacheName, e.CacheName);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, FixtureRecordTest,
    ::testing::Values(
        TFixtureCase{"Rfc2047Subject.eml",
                     Expect(PriorityHigh, true, "J\u00f6rg M\u00fcller", "joerg@example.de",
                            "J\u00f6rg M\u00fcller <joerg@example.de>", "Anna <anna@example.org>", "",
                            "Gr\u00fc\u00dfe aus K\u00f6ln", "", 1057049557000, true, "~60x~32y~62")},
        TFixtureCase{"GroupRecipients.eml",
                     Expect(PriorityNormal, false, "Smith, John", "john@example.com",
                            "Smith, John <john@example.com>", "undisclosed-recipients:;",
                            "a@example.com, B. Bee <b@example.com>, Carl <c@example.com>", "groups", "",
                            1057074720000, false, "~60groups@example.com~62")},
        TFixtureCase{"EightBitRawHeaders.eml",
                     Expect(PriorityNormal, false, "J\u00f6rg M\u00fcller", "joerg@example.de",
                            "J\u00f6rg M\u00fcller <joerg@example.de>", "", "",
                            "Gr\u00fc\u00dfe \u20ac und ?", "caf\u00e9 \u00e9t\u00e9", 1057049557000, false,
                            "MsgIDPrefixJ~195~182rg~32M~195~188llerjoerg@example.de01-07-2003")},
        TFixtureCase{"NoMessageId.eml",
                     Expect(PriorityNormal, false, "Bob", "bob@example.com", "Bob <bob@example.com>", "", "",
                            "no id", "", 1072931400000, true, "MsgIDPrefixBobbob@example.com01-01-2004")},
        TFixtureCase{"MultipartMixedCapitals.eml",
                     Expect(PriorityLow, false, "Mixed Case", "mc@example.com", "Mixed Case <mc@example.com>",
                            "", "", "attachment written in capitals", "", TMailMessage::NoDate, true,
                            "~60caps@example.com~62")},
        TFixtureCase{"NulAndBrokenUtf8.eml",
                     Expect(PriorityNormal, false, "Broken? Name", "broken@example.com",
                            "Broken? Name <broken@example.com>", "=?utf-8?B?unterminated <to@example.com>",
                            "", "nul byte and \u00c3 cut", "", TMailMessage::NoDate, false,
                            "MsgIDPrefixBroken~63~32Namebroken@example.com")},
        // Every field of interest in adjacent base64 words with padding, characters cut between
        // words; without a Message-Id the whole sender's name goes into the cache name.
        TFixtureCase{
            "AdjacentEncodedWords.eml",
            Expect(
                PriorityNormal, false, "\u041e\u0442\u0434\u0435\u043b \u043f\u0440\u043e\u0434\u0430\u0436",
                "sale@example.ru",
                "\u041e\u0442\u0434\u0435\u043b \u043f\u0440\u043e\u0434\u0430\u0436 <sale@example.ru>",
                "\u041c\u0430\u0440\u0438\u044f <maria@example.org>", "",
                "\u0421\u043a\u0438\u0434\u043a\u0430 500 \u0440\u0443\u0431\u043b\u0435\u0439",
                "\u041e\u041e\u041e \u0420\u043e\u043c\u0430\u0448\u043a\u0430", 1057049557000, true,
                "MsgIDPrefix~208~158~209~130~208~180~208~181~208~187~32~208~191~209~128~208~190~208~180~208~"
                "176~208~182sale@example.ru01-07-2003")}),
    [](const auto& info) {
        std::string name = info.param.File;
        return name.substr(0, name.find('.'));
    });

TEST(HeaderText, UndeclaredBytesAreReadAsWindows1252)
{
    struct
    {
        std::string Bytes;
        std::string Expected;
    } cases[] = {
        {"plain", "plain"},
        {"gr\xc3\xbc\xc3\x9f", "gr\u00fc\u00df"},
        {"gr\xfc\xdf", "gr\u00fc\u00df"},
        {"\x80\x9f\xa0\xff", "\u20ac\u0178\u00a0\u00ff"},
        {"\x81\x8d\x8f\x90\x9d", "\ufffd\ufffd\ufffd\ufffd\ufffd"},
        {"ok \xc3\xa9 and \xe9", "ok \u00e9 and \u00e9"},
        {"\xed\xa0\x80", "\u00ed\u00a0\u20ac"}, // an encoded surrogate is not UTF-8
        {"\xc0\xaf", "\u00c0\u00af"},           // nor is an overlong form
        {"\xf0\x9f\x93", "\u00f0\u0178\u201c"}, // a sequence cut short
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8Text(c.Bytes), c.Expected) << c.Bytes;
    EXPECT_EQ(DisplayText(std::string("a\0b\r\n\x7f\xe9", 7)), "a b   \u00e9");
}
