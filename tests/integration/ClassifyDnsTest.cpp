// The classifier against a real DNS server: dnsmasq on a loopback port serves test block-list
// zones with the test points every list publishes (2.0.0.127 listed, 1.0.0.127 not).

#include <cstdlib>

#include <gtest/gtest.h>

#include "accounts/TMailMessage.h"
#include "classify/TDispatchMail.h"
#include "classify/TDnsResolver.h"
#include "classify/TReadDatabaseSettings.h"
#include "classify/TSearchAddress.h"
#include "core/Errors.h"
#include "core/TSnapshot.h"
#include "support/TDnsmasq.h"
#include "support/TTempHome.h"

using namespace tarnwick::classify;
using tarnwick::accounts::TMailMessage;
using tarnwick::test::Fixture;
using tarnwick::test::ReadFileBytes;
using tarnwick::test::TDnsmasq;

namespace {

constexpr const char* Listing = "bl.tarnwick.test";    // lists 203.0.113.7
constexpr const char* Second = "second.tarnwick.test"; // lists 203.0.113.9 with another code
constexpr const char* Refusing = "refusing.tarnwick.test";
constexpr const char* Wildcard = "wildcard.tarnwick.test";
constexpr const char* Outside = "outside.tarnwick.test";
constexpr const char* Empty = "empty.tarnwick.test";
constexpr const char* Unserved = "unserved.example";

// The header lines of a message file as the download gives them (one entry per physical line),
// and the address part of its From header.
TMailMessage MessageOf(const std::string& fixture)
{
    const std::string text = ReadFileBytes(Fixture(fixture));
    TMailMessage message;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find("\r\n", pos);
        const std::string line = text.substr(pos, end - pos);
        pos = end == std::string::npos ? text.size() : end + 2;
        if (line.empty())
            break;
        message.Headers.push_back(line);
        if (line.starts_with("From:")) {
            const std::size_t open = line.find('<');
            message.FromAddress = line.substr(open + 1, line.find('>') - open - 1);
        }
    }
    return message;
}

class ClassifyDnsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        Dns = new TDnsmasq({
            std::string("--local=/") + Listing + "/",
            std::string("--host-record=2.0.0.127.") + Listing + ",127.0.0.2",
            std::string("--host-record=7.113.0.203.") + Listing + ",127.0.0.2",
            std::string("--local=/") + Second + "/",
            std::string("--host-record=2.0.0.127.") + Second + ",127.0.0.10",
            std::string("--host-record=9.113.0.203.") + Second + ",127.0.0.4",
            std::string("--address=/") + Refusing + "/127.255.255.254",
            std::string("--address=/") + Wildcard + "/127.0.0.2",
            std::string("--address=/") + Outside + "/192.0.2.1",
            std::string("--local=/") + Empty + "/",
        });
        ::setenv("TARNWICK_DNS_SERVERS", Dns->Server().c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        ::unsetenv("TARNWICK_DNS_SERVERS");
        delete Dns;
        Dns = nullptr;
    }

    static TDnsmasq* Dns;
};

TDnsmasq* ClassifyDnsTest::Dns = nullptr;

} // namespace

TEST_F(ClassifyDnsTest, SelfTestKeepsOnlyZonesThatAnswerTheTestPoints)
{
    const TZoneTest test = SelfTestZones({Refusing, Listing, Wildcard, Outside, Second, Empty, Unserved});
    EXPECT_EQ(test.Usable, (std::vector<std::string>{Listing, Second}));
    EXPECT_EQ(test.Errors,
              (std::vector<std::string>{
                  "Spam database refusing.tarnwick.test does not answer correctly and was skipped.",
                  "Spam database wildcard.tarnwick.test does not answer correctly and was skipped.",
                  "Spam database outside.tarnwick.test does not answer correctly and was skipped.",
                  "Spam database empty.tarnwick.test does not answer correctly and was skipped.",
                  "Spam database unserved.example does not answer correctly and was skipped.",
              }));
}

// Every address is asked of every server at once; the text still follows address order and server
// order, exactly as asking one after the other gives it.
TEST_F(ClassifyDnsTest, LookupTextFollowsAddressAndServerOrder)
{
    const std::vector<std::string> headers{
        "Received: from a [203.0.113.7] by b [198.51.100.9]; date",
        "Received: from c [203.0.113.9] by d [203.0.113.7]",
        "Received: from e (127.0.0.2) by f", // the test point itself
    };
    TSearchAddress search({Listing, Refusing, Second, Outside, Wildcard});
    const std::string text = search.Lookup(headers);
    EXPECT_EQ(text, "(1 X X X 1 ) (X X X X 1 ) (X X 1 X 1 ) (1 X 1 X 1 ) ");

    std::string oneByOne;
    for (const char* address : {"203.0.113.7", "198.51.100.9", "203.0.113.9", "127.0.0.2"})
        oneByOne += search.QueryAddress(address) + " ";
    EXPECT_EQ(oneByOne, text);

    TDnsResolver resolver;
    std::string sequential;
    for (const char* reversed : {"7.113.0.203", "9.100.51.198", "9.113.0.203", "2.0.0.127"}) {
        sequential += "(";
        for (const char* zone : {Listing, Refusing, Second, Outside, Wildcard})
            sequential += IsListingAnswer(resolver.Resolve(std::string(reversed) + "." + zone)) ? "1 " : "X ";
        sequential += ") ";
    }
    EXPECT_EQ(sequential, text);
}

TEST_F(ClassifyDnsTest, ClassifiesRealMessagesThroughTheBlockList)
{
    TAddressLists lists;
    lists.Replace({TListKind::Black, {}}, {TListKind::White, {{"ann@friend.example", false, {}}}});
    tarnwick::core::TSnapshot<tarnwick::core::TOptionRec> options;
    const auto classifier = [&](std::int32_t databaseAction) {
        tarnwick::core::TOptionRec rec;
        rec.ResponseAction = 1;
        rec.DatabaseAction = databaseAction;
        options.Store(rec);
        const TZoneTest zones = SelfTestZones({Listing, Refusing});
        return std::make_unique<TDispatchMail>(
            tarnwick::accounts::TUserID{}, std::make_unique<TSearchAddress>(zones.Usable),
            TClassifySources{[&] { return lists.Snapshot(); }, [&] { return options.Load(); }});
    };
    const TMailMessage listed = MessageOf("classify/ListedRelay.eml");
    const TMailMessage clean = MessageOf("classify/CleanRelay.eml");

    auto dispatch = classifier(1);
    const TClassifyReport report = dispatch->Explain(listed);
    EXPECT_EQ(report.Relays, (std::vector<std::string>{"203.0.113.7", "198.51.100.9"}));
    EXPECT_EQ(report.LookupText, "(1 ) (X ) ");
    EXPECT_EQ(report.Result, ResultSpam);
    EXPECT_EQ(dispatch->ClassifyMessage(clean), ResultQuestionable);
    EXPECT_EQ(dispatch->Explain(clean).LookupText, "(X ) (X ) ");

    // With DatabaseAction 0 a hit goes to the trash; a refusing list never does that to good mail.
    EXPECT_EQ(classifier(0)->ClassifyMessage(listed), ResultTrash);
    TDispatchMail refusingOnly(
        tarnwick::accounts::TUserID{}, std::make_unique<TSearchAddress>(std::vector<std::string>{Refusing}),
        TClassifySources{[&] { return lists.Snapshot(); }, [&] { return options.Load(); }});
    EXPECT_EQ(refusingOnly.Explain(listed).LookupText, "(X ) (X ) ");
    EXPECT_EQ(refusingOnly.ClassifyMessage(listed), ResultQuestionable);

    lists.Change(TListKind::White, [](TAddressList& white, TAddressList&) { white.Rows[0].Enabled = true; });
    EXPECT_EQ(classifier(0)->ClassifyMessage(clean), ResultGood);
}

TEST_F(ClassifyDnsTest, ZonesComeFromTheDatabasesFile)
{
    tarnwick::test::TTempHome home;
    tarnwick::test::WriteFileBytes(home / "Databases.ini", std::string("[Databases]\r\n") + Listing +
                                                               "=-1\r\n" + Second + "=0\r\n" + Refusing +
                                                               "=maybe\r\n");
    TReadDatabaseSettings settings(home / "Databases.ini");
    settings.ReadServers();
    TSearchAddress search(settings.EnabledServers());
    EXPECT_EQ(search.ServerCount(), 1);
    EXPECT_EQ(search.QueryAddress("203.0.113.7"), "(1 )");
}

// More queries than go out at once: every group is sent and awaited, and the answers keep their
// places.
TEST_F(ClassifyDnsTest, ManyQueriesKeepTheirOrder)
{
    std::vector<std::string> names;
    for (int i = 0; i < 3 * static_cast<int>(TDnsResolver::MaxInFlight) + 5; ++i)
        names.push_back(i % 3 == 0 ? std::string("7.113.0.203.") + Listing
                                   : "x" + std::to_string(i) + "." + Listing);
    TDnsResolver resolver;
    const std::vector<TDnsAnswer> answers = resolver.ResolveAll(names);
    ASSERT_EQ(answers.size(), names.size());
    for (std::size_t i = 0; i < answers.size(); ++i)
        EXPECT_EQ(IsListingAnswer(answers[i]), i % 3 == 0) << names[i];

    // A message whose Received line carries hundreds of addresses is looked up whole.
    std::string line = "Received: from";
    for (int i = 0; i < 300; ++i)
        line += " [10.0." + std::to_string(i / 200) + "." + std::to_string(i % 200) + "]";
    TSearchAddress search({Listing, Second});
    const std::string text = search.Lookup({line + " (203.0.113.7) by mx"});
    std::string expected;
    for (int i = 0; i < 300; ++i)
        expected += "(X X ) ";
    EXPECT_EQ(text, expected + "(1 X ) ");
}

// A server that never answers costs each query its time-out and counts as no hit.
TEST(ClassifyDnsTimeoutTest, ASilentServerCountsAsNoHit)
{
    tarnwick::test::TSilentDnsServer silent;
    TDnsResolver resolver(silent.Server());
    const auto answers = resolver.ResolveAll({"2.0.0.127.bl.tarnwick.test", "1.0.0.127.bl.tarnwick.test"});
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_FALSE(answers[0].Resolved);
    EXPECT_FALSE(answers[1].Resolved);
    EXPECT_THROW(TDnsResolver("not a server list"), tarnwick::core::TError);
}
