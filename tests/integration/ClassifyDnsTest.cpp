// The classifier against a real DNS server: dnsmasq on a loopback port serves test block-list
// zones with the test points every list publishes (2.0.0.127 listed, 1.0.0.127 not).

#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "accounts/TMailMessage.h"
#include "classify/TDispatchMail.h"
#include "classify/TDnsResolver.h"
#include "classify/TLookupCache.h"
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

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// TARNWICK_DNS_SERVERS for one test, restored afterwards.
class TScopedDnsServers
{
public:
    explicit TScopedDnsServers(const std::string& servers)
    {
        if (const char* old = std::getenv("TARNWICK_DNS_SERVERS"))
            Old_ = old;
        ::setenv("TARNWICK_DNS_SERVERS", servers.c_str(), 1);
    }
    ~TScopedDnsServers()
    {
        if (Old_.empty())
            ::unsetenv("TARNWICK_DNS_SERVERS");
        else
            ::setenv("TARNWICK_DNS_SERVERS", Old_.c_str(), 1);
    }
    TScopedDnsServers(const TScopedDnsServers&) = delete;
    TScopedDnsServers& operator=(const TScopedDnsServers&) = delete;

private:
    std::string Old_;
};

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

TEST_F(ClassifyDnsTest, CheckZonesJudgesEachZone)
{
    const TZoneCheck check =
        CheckZones({Refusing, Listing, Wildcard, Outside, Second, Empty, Unserved}, nullptr);
    EXPECT_FALSE(check.Cancelled);
    EXPECT_EQ(check.Verdicts, (std::vector<TZoneVerdict>{TZoneVerdict::RefusesPublicResolvers,
                                                         TZoneVerdict::Works, TZoneVerdict::ListsEverything,
                                                         TZoneVerdict::NoAnswer, TZoneVerdict::Works,
                                                         TZoneVerdict::NoAnswer, TZoneVerdict::NoAnswer}));
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

    // A Received line with hundreds of addresses is looked up as far as the cap: a listed relay
    // behind them is not asked about.
    std::string line = "Received: from";
    for (int i = 0; i < 300; ++i)
        line += " [10.0." + std::to_string(i / 200) + "." + std::to_string(i % 200) + "]";
    TSearchAddress search({Listing, Second});
    const std::string text = search.Lookup({line + " (203.0.113.7) by mx"});
    std::string expected;
    for (std::size_t i = 0; i < MaxRelayAddresses; ++i)
        expected += "(X X ) ";
    EXPECT_EQ(text, expected);
}

namespace {

// The names of the A queries for the test zones in a dnsmasq query log. dnsmasq writes its log as
// it answers; it is given a moment to reach the file, until `expected` names are in and a little
// longer, for any beyond.
std::multiset<std::string> QueriedNames(const std::string& log, std::size_t expected)
{
    const auto queried = [&] {
        std::multiset<std::string> names;
        std::istringstream lines(tarnwick::test::ReadFileBytes(log));
        for (std::string line; std::getline(lines, line);) {
            const std::size_t at = line.find("query[A] ");
            if (at == std::string::npos)
                continue;
            const std::string name = line.substr(at + 9, line.find(' ', at + 9) - at - 9);
            if (name.ends_with(std::string(".") + Listing) || name.ends_with(std::string(".") + Second))
                names.insert(name);
        }
        return names;
    };
    for (const auto until = Clock::now() + 2s; queried().size() < expected && Clock::now() < until;)
        std::this_thread::sleep_for(20ms);
    std::this_thread::sleep_for(200ms);
    return queried();
}

} // namespace

// A message padded with 640 Received lines costs at most MaxRelayAddresses queries per zone, the
// first distinct relays in header order (an address repeated on every line is asked once); the
// dnsmasq query log counts what really went out.
TEST(ClassifyDnsCapTest, APaddedMessageSendsAtMostTheCappedQueries)
{
    tarnwick::test::TTempHome folder(false);
    const std::string log = folder / "queries.log";
    TDnsmasq dns({
        "--log-queries",
        "--log-facility=" + log,
        std::string("--local=/") + Listing + "/",
        std::string("--host-record=7.113.0.203.") + Listing + ",127.0.0.2",
        std::string("--local=/") + Second + "/",
        std::string("--host-record=9.113.0.203.") + Second + ",127.0.0.4",
    });
    TScopedDnsServers servers(dns.Server());

    // Distinct relays in order: 10.0.0.0, 198.51.100.1 (on every line), 10.0.0.1 ... 10.0.0.29,
    // then 203.0.113.7 as the 32nd and 203.0.113.9 as the 33rd, then hundreds more.
    std::vector<std::string> headers{"From: <joe@x.example>"};
    for (int i = 0; i < 640; ++i) {
        const std::string relay = i == 30 ? "203.0.113.7"
                                  : i == 31
                                      ? "203.0.113.9"
                                      : "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256);
        headers.push_back("Received: from h" + std::to_string(i) + " [" + relay +
                          "] by mx (198.51.100.1); date");
    }
    TSearchAddress search({Listing, Second});
    const TLookupResult result = search.LookupDetailed(headers);
    EXPECT_EQ(result.RelaysFound, 641u);
    ASSERT_EQ(result.Addresses.size(), MaxRelayAddresses);
    EXPECT_EQ(result.Addresses[1], "198.51.100.1");
    EXPECT_EQ(result.Addresses[31], "203.0.113.7");
    std::string expected;
    for (std::size_t i = 0; i + 1 < MaxRelayAddresses; ++i)
        expected += "(X X ) ";
    EXPECT_EQ(result.Text, expected + "(1 X ) ");

    const std::size_t expectedQueries = 2 * MaxRelayAddresses;
    const std::multiset<std::string> names = QueriedNames(log, expectedQueries);
    EXPECT_EQ(names.size(), expectedQueries);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), expectedQueries) << "each asked once";
    EXPECT_EQ(names.count(std::string("7.113.0.203.") + Listing), 1u);
    EXPECT_EQ(names.count(std::string("9.113.0.203.") + Second), 0u) << "the 33rd relay is not asked";
}

// The lookups of a receive's workers share one cache of answers: each relay address is asked of
// each zone once, whichever worker's message carries it and however often, and the self-test asks
// its two test points per zone besides; the dnsmasq query log counts what really went out. Every
// message gets the text a lookup of its own would give.
TEST(ClassifyDnsSharedTest, RepeatedRelaysAreAskedOncePerZone)
{
    tarnwick::test::TTempHome folder(false);
    const std::string log = folder / "queries.log";
    TDnsmasq dns({
        "--log-queries",
        "--log-facility=" + log,
        std::string("--local=/") + Listing + "/",
        std::string("--host-record=2.0.0.127.") + Listing + ",127.0.0.2",
        std::string("--host-record=7.113.0.203.") + Listing + ",127.0.0.2",
        std::string("--local=/") + Second + "/",
        std::string("--host-record=2.0.0.127.") + Second + ",127.0.0.10",
        std::string("--host-record=9.113.0.203.") + Second + ",127.0.0.4",
    });
    TScopedDnsServers servers(dns.Server());
    auto cancel = std::make_shared<TDnsCancel>();
    const TZoneTest zones = SelfTestZones({Listing, Second}, cancel);
    ASSERT_EQ(zones.Usable, (std::vector<std::string>{Listing, Second}));

    const std::vector<std::pair<std::string, std::string>> pool{{"203.0.113.7", "(1 X ) "},
                                                                {"203.0.113.9", "(X 1 ) "},
                                                                {"198.51.100.1", "(X X ) "},
                                                                {"198.51.100.2", "(X X ) "},
                                                                {"192.0.2.1", "(X X ) "}};
    constexpr int Workers = 4;
    constexpr int MessagesEach = 30;
    auto cache = std::make_shared<TLookupCache>(cancel);
    std::vector<std::vector<std::string>> mismatches(Workers);
    std::vector<std::thread> workers;
    for (int w = 0; w < Workers; ++w)
        workers.emplace_back([&, w] {
            // As a worker does: every message's lookup is started before the first answer is read.
            TSearchAddress search(zones.Usable, cache);
            std::vector<std::pair<std::shared_ptr<TPendingLookup>, std::string>> started;
            for (int i = 0; i < MessagesEach; ++i) {
                const auto& first = pool[(w + i) % pool.size()];
                const auto& second = pool[(w + 2 * i + 1) % pool.size()];
                std::string expected = first.second;
                if (second.first != first.first)
                    expected += second.second;
                started.emplace_back(search.StartLookup({"Received: from a [" + first.first + "] by b [" +
                                                         second.first + "]; date"}),
                                     expected);
            }
            for (const auto& [lookup, expected] : started)
                if (lookup->Result().Text != expected || lookup->Result().Aborted)
                    mismatches[w].push_back(lookup->Result().Text + " instead of " + expected);
        });
    for (std::thread& worker : workers)
        worker.join();
    for (const auto& wrong : mismatches)
        EXPECT_TRUE(wrong.empty()) << wrong.front();

    const std::size_t expectedQueries = pool.size() * zones.Usable.size() + 2 * zones.Usable.size();
    const std::multiset<std::string> names = QueriedNames(log, expectedQueries);
    EXPECT_EQ(names.size(), expectedQueries);
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), expectedQueries) << "each asked once";
    EXPECT_EQ(names.count(std::string("7.113.0.203.") + Listing), 1u);
    EXPECT_EQ(names.count(std::string("2.0.0.127.") + Second), 1u);
    EXPECT_EQ(cache->QueriesSent(), pool.size() * zones.Usable.size());
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

namespace {

// Something that waits for DNS answers, and the way to stop it from another thread. Work blocks
// until it has its answers or is stopped, and checks what a stopped wait gives.
struct TStoppable
{
    std::function<void()> Abort;
    std::function<void()> Work;
};

struct TAbortCase
{
    std::string Name;
    std::function<TStoppable()> Make; // servers: TARNWICK_DNS_SERVERS
};

const std::vector<std::string> SilentZones{"bl.tarnwick.test", "second.tarnwick.test"};
const std::vector<std::string> ThreeRelays{"Received: from a [203.0.113.7] by b [198.51.100.9]; date",
                                           "Received: from c [203.0.113.9] by d"};

void ExpectNothingListed(const TLookupResult& result)
{
    EXPECT_TRUE(result.Aborted);
    EXPECT_EQ(result.Text, "(X X ) (X X ) (X X ) ");
}

const TAbortCase AbortCases[] = {
    {"Resolver",
     [] {
         // Several groups of queries: unstopped, each group would wait its whole time-out.
         auto resolver = std::make_shared<TDnsResolver>();
         std::vector<std::string> names;
         for (std::size_t i = 0; i < 3 * TDnsResolver::MaxInFlight; ++i)
             names.push_back("x" + std::to_string(i) + ".bl.tarnwick.test");
         return TStoppable{[resolver] { resolver->Abort(); },
                           [resolver, names] {
                               const std::vector<TDnsAnswer> answers = resolver->ResolveAll(names);
                               ASSERT_EQ(answers.size(), names.size());
                               for (const TDnsAnswer& answer : answers)
                                   EXPECT_FALSE(answer.Resolved);
                               EXPECT_TRUE(resolver->Aborted());
                           }};
     }},
    {"Lookup",
     [] {
         auto search = std::make_shared<TSearchAddress>(SilentZones);
         return TStoppable{[search] { search->Abort(); },
                           [search] { ExpectNothingListed(search->LookupDetailed(ThreeRelays)); }};
     }},
    {"Classifier",
     [] {
         struct TState
         {
             TAddressLists Lists;
             tarnwick::core::TSnapshot<tarnwick::core::TOptionRec> Options;
             std::unique_ptr<TDispatchMail> Classifier;
         };
         auto state = std::make_shared<TState>();
         tarnwick::core::TOptionRec options;
         options.ResponseAction = 1;
         options.DatabaseAction = 0;
         state->Options.Store(options);
         TState* raw = state.get();
         state->Classifier = std::make_unique<TDispatchMail>(
             tarnwick::accounts::TUserID{}, std::make_unique<TSearchAddress>(SilentZones),
             TClassifySources{[raw] { return raw->Lists.Snapshot(); },
                              [raw] { return raw->Options.Load(); }});
         return TStoppable{[state] { state->Classifier->Abort(); },
                           [state] {
                               TMailMessage message;
                               message.FromAddress = "joe@x.example";
                               message.Headers = ThreeRelays;
                               const TClassifyReport report = state->Classifier->Explain(message);
                               EXPECT_TRUE(report.LookupAborted);
                               EXPECT_EQ(report.LookupText, "(X X ) (X X ) (X X ) ");
                               // Unanswered counts as not listed: ResponseAction decides.
                               EXPECT_EQ(report.Result, ResultQuestionable);
                               EXPECT_TRUE(state->Classifier->Aborted());
                           }};
     }},
    {"SharedSignal",
     [] {
         // One signal for several lookups, as a receive shares it among its workers: raising it
         // stops the one waiting and the one that has not started yet.
         auto cancel = std::make_shared<TDnsCancel>();
         auto first = std::make_shared<TSearchAddress>(SilentZones, cancel);
         auto second = std::make_shared<TSearchAddress>(SilentZones, cancel);
         return TStoppable{[cancel] { cancel->Cancel(); },
                           [first, second] {
                               ExpectNothingListed(first->LookupDetailed(ThreeRelays));
                               ExpectNothingListed(second->LookupDetailed(ThreeRelays));
                           }};
     }},
    {"SelfTest",
     [] {
         auto cancel = std::make_shared<TDnsCancel>();
         return TStoppable{[cancel] { cancel->Cancel(); },
                           [cancel] {
                               const TZoneTest test = SelfTestZones(SilentZones, cancel);
                               EXPECT_TRUE(test.Cancelled);
                               EXPECT_TRUE(test.Usable.empty());
                               EXPECT_TRUE(test.Errors.empty()) << "no zone is blamed for a Stop";
                           }};
     }},
};

void PrintTo(const TAbortCase& c, std::ostream* out)
{
    *out << c.Name;
}

class ClassifyDnsAbortTest : public ::testing::TestWithParam<TAbortCase>
{};

} // namespace

// Against a server that never answers, a wait ends within a second of Abort() from another thread
// (unstopped it would last at least a query time-out of 3 s), and a stopped resolver answers every
// later call at once.
TEST_P(ClassifyDnsAbortTest, AbortEndsTheWaitAtOnceAndForGood)
{
    tarnwick::test::TSilentDnsServer silent;
    TScopedDnsServers servers(silent.Server());
    const TStoppable stoppable = GetParam().Make();

    constexpr auto AbortAfter = 300ms;
    std::thread stopper([&] {
        std::this_thread::sleep_for(AbortAfter);
        stoppable.Abort();
    });
    const auto start = Clock::now();
    stoppable.Work();
    const auto waited = Clock::now() - start;
    stopper.join();
    EXPECT_GE(waited, AbortAfter - 50ms) << "the wait ended before Abort()";
    EXPECT_LT(waited, AbortAfter + 1s);

    const auto again = Clock::now();
    stoppable.Work();
    EXPECT_LT(Clock::now() - again, 1s);
}

INSTANTIATE_TEST_SUITE_P(Levels, ClassifyDnsAbortTest, ::testing::ValuesIn(AbortCases),
                         [](const auto& info) { return info.param.Name; });
