#include "classify/TDecodeIp.h"

#include <gtest/gtest.h>

#include "classify/TDnsResolver.h"
#include "classify/TSearchAddress.h"

using namespace tarnwick::classify;

TEST(DecodeIpTest, IsValidIPv4)
{
    const struct
    {
        const char* Text;
        bool Valid;
    } cases[] = {
        {"192.0.2.7", true},   {" 10.0.0.1\t", true}, {"0.0.0.0", true},    {"255.255.255.255", true},
        {"1.2.3.4.5", true},   {"1.2.3.4.", true},    {"1.2.3.4.x", true},  {"01.002.0003.4", true},
        {"1.2.3", false},      {"1.2.3.", false},     {"256.1.1.1", false}, {"1.2.3.256", false},
        {"1..3.4", false},     {"", false},           {"...", false},       {"a.b.c.d", false},
        {"1.2.3.-4", false},   {"1.2.3.+4", false},   {"1.2 .3.4", false},  {"99999999999.1.1.1", false},
        {"1.2.3.4:25", false}, {"1.2.3.4 x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValidIPv4(c.Text), c.Valid) << '"' << c.Text << '"';
}

TEST(DecodeIpTest, ExtractAddresses)
{
    const struct
    {
        const char* Name;
        std::vector<std::string> Lines;
        std::vector<std::string> Addresses;
    } cases[] = {
        {"from part in brackets, by part in parentheses ending in a date",
         {"Received: from mail.example.org [192.0.2.7] by mx.example.net (198.51.100.2); Tue, 1 Jan 2030 "
          "10:00:00 +0000"},
         {"192.0.2.7", "198.51.100.2"}},
        {"no \": from\"", {"Received: by mx.example.net (198.51.100.2) with SMTP"}, {}},
        {"another header name", {"X-Received: from host [192.0.2.7]", "Subject: from [192.0.2.8]"}, {}},
        {"letter case of the name and of \": from\" does not matter",
         {"RECEIVED: FROM host ([192.0.2.9])"},
         {"192.0.2.9"}},
        {"continuation lines are never used",
         {"Received: from host (helo)", "\tby mx (198.51.100.2) with ESMTP id 1;", " Tue, 1 Jan 2030"},
         {}},
        {"dashes instead of dots", {"Received: from 192-0-2-7.dsl.example.org (unknown) by mx"}, {}},
        {"address with a port in parentheses", {"Received: from host (192.0.2.7:4512) by mx"}, {}},
        {"digits and dots of a token", {"Received: from host (helo=192.0.2.7x) by mx"}, {"192.0.2.7"}},
        {"the same address twice",
         {"Received: from a [192.0.2.7] by b", "Received: from c [192.0.2.7] by d"},
         {"192.0.2.7"}},
        {"\"by\" is cut with letter case: \"BY\" is not the cut",
         {"Received: from host [192.0.2.7] BY mx [198.51.100.2]; date 10.0.0.1"},
         {"192.0.2.7", "198.51.100.2", "10.0.0.1"}},
        {"the first \"by\" cuts, even inside a word, and ';' ends the by part",
         {"Received: from [192.0.2.7] nearby [10.0.0.1] by mx [198.51.100.2]; 10.9.9.9"},
         {"192.0.2.7", "10.0.0.1", "198.51.100.2"}},
        {"nothing after by", {"Received: from x [192.0.2.7] by   "}, {"192.0.2.7"}},
        {"IPv6 addresses yield nothing, IPv4-mapped ones included (the 6 of \"IPv6\" joins in)",
         {"Received: from h ([IPv6:2001:db8::1]) by mx ([IPv6:::ffff:192.0.2.7])"},
         {}},
        {"five fields pass whole", {"Received: from h [1.2.3.4.5] by mx"}, {"1.2.3.4.5"}},
        {"private and loop-back addresses are kept",
         {"Received: from localhost (127.0.0.1) by mx (10.1.2.3)"},
         {"127.0.0.1", "10.1.2.3"}},
        {"tabs inside tokens", {"Received: from h (\t192.0.2.7\t) by mx"}, {"192.0.2.7"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TDecodeIp decoder(c.Lines);
        std::vector<std::string> out{"stale"};
        decoder.ExtractAddresses(out);
        EXPECT_EQ(out, c.Addresses);
    }
}

TEST(DecodeIpTest, ThousandsOfTokensStayLinear)
{
    std::string line = "Received: from ";
    for (int i = 0; i < 20000; ++i)
        line += "(10." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + ".1) ";
    TDecodeIp decoder({line + "by mx"});
    std::vector<std::string> out;
    decoder.ExtractAddresses(out);
    EXPECT_EQ(out.size(), 20000u);
    EXPECT_EQ(out.front(), "10.0.0.1");
}

TEST(SearchAddressTest, ReversedAddress)
{
    EXPECT_EQ(ReversedAddress("192.0.2.7"), "7.2.0.192");
    EXPECT_EQ(ReversedAddress("1.2.3.4.5"), "4.5.3.2.1");
    EXPECT_EQ(ReversedAddress("01.2.3.4"), "4.3.2.01");
}

// The lookup asks about the first MaxRelayAddresses distinct relays in header order; a repeated
// address is asked once and does not use up a place.
TEST(SearchAddressTest, RelaysToLookUpAreTheFirstDistinctOnesUpToTheCap)
{
    const auto numbered = [](int first, int count) {
        std::vector<std::string> addresses;
        for (int i = first; i < first + count; ++i)
            addresses.push_back("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256));
        return addresses;
    };
    const auto joined = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const int cap = static_cast<int>(MaxRelayAddresses);
    ASSERT_EQ(cap, 32);
    const struct
    {
        const char* Name;
        std::vector<std::string> Relays;
        std::vector<std::string> Asked;
    } cases[] = {
        {"none", {}, {}},
        {"a few, kept in order",
         {"192.0.2.9", "192.0.2.1", "198.51.100.3"},
         {"192.0.2.9", "192.0.2.1", "198.51.100.3"}},
        {"repeats asked once",
         {"192.0.2.1", "192.0.2.2", "192.0.2.1", "192.0.2.2"},
         {"192.0.2.1", "192.0.2.2"}},
        {"exactly the cap", numbered(0, cap), numbered(0, cap)},
        {"hundreds: the first ones", numbered(0, 640), numbered(0, cap)},
        {"repeats do not use up places", joined(joined(numbered(0, 10), numbered(0, 10)), numbered(10, 40)),
         numbered(0, cap)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RelayAddressesToLookUp(c.Relays), c.Asked) << c.Name;
}

TEST(SearchAddressTest, NoServersMeansNoQueriesAndAnEmptyText)
{
    TSearchAddress search(std::vector<std::string>{});
    EXPECT_EQ(search.ServerCount(), 0);
    EXPECT_EQ(search.Lookup({"Received: from h [192.0.2.7] by mx"}), "");
    // Nothing waits, so stopping has nothing to do and changes nothing.
    search.Abort();
    EXPECT_EQ(search.Lookup({"Received: from h [192.0.2.7] by mx"}), "");
}

// Only 127.0.0.0/8 answers are listings, and not the error answers of refused resolvers.
TEST(SearchAddressTest, ListingAnswers)
{
    const auto ip = [](unsigned a, unsigned b, unsigned c, unsigned d) {
        return (a << 24) | (b << 16) | (c << 8) | d;
    };
    const struct
    {
        TDnsAnswer Answer;
        bool Listing;
    } cases[] = {
        {{true, {ip(127, 0, 0, 2)}}, true},
        {{true, {ip(127, 0, 0, 10), ip(127, 0, 0, 4)}}, true},
        {{true, {ip(127, 255, 255, 251)}}, true},
        {{true, {ip(127, 255, 255, 252)}}, false},
        {{true, {ip(127, 255, 255, 254)}}, false},
        {{true, {ip(127, 255, 255, 255)}}, false},
        {{true, {ip(127, 0, 0, 2), ip(127, 255, 255, 254)}}, false},
        {{true, {ip(192, 0, 2, 1)}}, false},
        {{true, {ip(128, 0, 0, 2)}}, false},
        {{true, {ip(126, 0, 0, 2)}}, false},
        {{true, {}}, false},
        {{false, {}}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsListingAnswer(c.Answer), c.Listing)
            << std::hex << (c.Answer.Addresses.empty() ? 0 : c.Answer.Addresses[0]);
}

// The verdict on a zone from the answers to its two test points, 2.0.0.127 (must be listed) and
// 1.0.0.127 (must not be).
TEST(SearchAddressTest, ZoneVerdicts)
{
    const auto ip = [](unsigned a, unsigned b, unsigned c, unsigned d) {
        return (a << 24) | (b << 16) | (c << 8) | d;
    };
    const TDnsAnswer none{false, {}};
    const TDnsAnswer listed{true, {ip(127, 0, 0, 2)}};
    const TDnsAnswer refused{true, {ip(127, 255, 255, 254)}};
    const struct
    {
        const char* Name;
        TDnsAnswer ListedPoint;
        TDnsAnswer UnlistedPoint;
        TZoneVerdict Verdict;
        const char* Text;
    } cases[] = {
        {"a list", listed, none, TZoneVerdict::Works, "works"},
        {"another return code",
         {true, {ip(127, 0, 0, 10), ip(127, 0, 0, 4)}},
         none,
         TZoneVerdict::Works,
         "works"},
        {"not served", none, none, TZoneVerdict::NoAnswer, "no answer"},
        {"answers outside 127/8",
         {true, {ip(192, 0, 2, 1)}},
         {true, {ip(192, 0, 2, 1)}},
         TZoneVerdict::NoAnswer,
         "no answer"},
        {"resolved without addresses", {true, {}}, none, TZoneVerdict::NoAnswer, "no answer"},
        {"Spamhaus' public resolver code", refused, refused, TZoneVerdict::RefusesPublicResolvers,
         "refuses public resolvers"},
        {"over the query limit",
         {true, {ip(127, 255, 255, 255)}},
         none,
         TZoneVerdict::RefusesPublicResolvers,
         "refuses public resolvers"},
        {"lowest error code",
         {true, {ip(127, 255, 255, 252)}},
         none,
         TZoneVerdict::RefusesPublicResolvers,
         "refuses public resolvers"},
        {"error code beside a listing",
         {true, {ip(127, 0, 0, 2), ip(127, 255, 255, 254)}},
         none,
         TZoneVerdict::RefusesPublicResolvers,
         "refuses public resolvers"},
        {"refuses only the unlisted point", none, refused, TZoneVerdict::RefusesPublicResolvers,
         "refuses public resolvers"},
        {"highest code that is a listing",
         {true, {ip(127, 255, 255, 251)}},
         none,
         TZoneVerdict::Works,
         "works"},
        {"wildcard", listed, listed, TZoneVerdict::ListsEverything, "lists everything"},
        {"lists only the unlisted point", none, listed, TZoneVerdict::ListsEverything, "lists everything"},
    };
    for (const auto& c : cases) {
        const TZoneVerdict verdict = JudgeZone(c.ListedPoint, c.UnlistedPoint);
        EXPECT_EQ(verdict, c.Verdict) << c.Name;
        EXPECT_EQ(ZoneVerdictText(verdict), c.Text) << c.Name;
    }
}
