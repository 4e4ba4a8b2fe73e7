// Lookups that share one cache of block-list answers, against a DNS server that holds its answers
// back until the test lets them go: a lookup returns before its answers, a name two lookups need
// is asked once, and stopping one lookup, or the cache's signal, ends the waits it should.
#include "classify/TLookupCache.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "classify/TDnsResolver.h"
#include "classify/TSearchAddress.h"
#include "support/TDnsmasq.h"

using namespace tarnwick::classify;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const std::vector<std::string> Zones{"bl.test", "second.test"};
const std::vector<std::string> TwoRelays{"Received: from a [203.0.113.7] by b [198.51.100.9]; date"};
const std::vector<std::string> OneRelay{"Received: from c [203.0.113.7] by d; date"};

bool WaitUntil(const std::function<bool()>& done, Clock::duration limit)
{
    for (const auto until = Clock::now() + limit; Clock::now() < until; std::this_thread::sleep_for(5ms))
        if (done())
            return true;
    return done();
}

// What happens while both lookups wait, and what each then holds.
struct TCase
{
    std::string Name;
    std::function<void(TSearchAddress& first, TLookupCache& cache)> Act;
    bool FirstAborted;
    std::string FirstText;
    bool SecondOverAtOnce; // the second lookup is over without the answers being released
    bool SecondAborted;
    std::string SecondText;
};

void PrintTo(const TCase& c, std::ostream* out)
{
    *out << c.Name;
}

const TCase Cases[] = {
    {"AnswersCome", [](TSearchAddress&, TLookupCache&) {}, false, "(1 X ) (X X ) ", false, false, "(1 X ) "},
    // One worker's lookup stopped (its worker ends): the other, sharing the answers, still gets them.
    {"OneLookupAborted", [](TSearchAddress& first, TLookupCache&) { first.Abort(); }, true, "(X X ) (X X ) ",
     false, false, "(1 X ) "},
    // The receive's Stop: every lookup through the cache ends at once.
    {"SignalRaised", [](TSearchAddress&, TLookupCache& cache) { cache.Cancel()->Cancel(); }, true,
     "(X X ) (X X ) ", true, true, "(X X ) "},
};

class LookupCacheTest : public ::testing::TestWithParam<TCase>
{};

} // namespace

TEST_P(LookupCacheTest, LookupsShareAnswersAndStopAsTheyShould)
{
    const TCase& c = GetParam();
    tarnwick::test::TScriptedDnsServer dns({"7.113.0.203.bl.test"}, [](const std::string&) { return true; });
    ::setenv("TARNWICK_DNS_SERVERS", dns.Server().c_str(), 1);
    auto cache = std::make_shared<TLookupCache>();
    TSearchAddress first(Zones, cache);
    TSearchAddress second(Zones, cache);

    const auto started = Clock::now();
    const std::shared_ptr<TPendingLookup> one = first.StartLookup(TwoRelays);
    const std::shared_ptr<TPendingLookup> two = second.StartLookup(OneRelay);
    EXPECT_LT(Clock::now() - started, 500ms) << "starting a lookup waited for its answers";
    ASSERT_TRUE(WaitUntil([&] { return dns.Holding() == 4; }, 2s)) << dns.Holding();
    EXPECT_FALSE(one->Ready());
    EXPECT_FALSE(two->Ready());
    // The relay both messages carry was asked once per zone.
    EXPECT_EQ(dns.Queries(), (std::map<std::string, int>{{"7.113.0.203.bl.test", 1},
                                                         {"7.113.0.203.second.test", 1},
                                                         {"9.100.51.198.bl.test", 1},
                                                         {"9.100.51.198.second.test", 1}}));
    EXPECT_EQ(cache->QueriesSent(), 4u);

    c.Act(first, *cache);
    if (c.FirstAborted) {
        EXPECT_TRUE(WaitUntil([&] { return one->Ready(); }, 500ms)) << "stopped, yet still waiting";
    }
    if (c.SecondOverAtOnce) {
        EXPECT_TRUE(WaitUntil([&] { return two->Ready(); }, 500ms)) << "stopped, yet still waiting";
    } else {
        EXPECT_FALSE(two->Ready()) << "over before its answers came";
    }
    dns.Release();
    EXPECT_EQ(one->Result().Aborted, c.FirstAborted);
    EXPECT_EQ(one->Result().Text, c.FirstText);
    EXPECT_EQ(two->Result().Aborted, c.SecondAborted);
    EXPECT_EQ(two->Result().Text, c.SecondText);
    EXPECT_EQ(two->Result().Hits, (std::vector<std::vector<bool>>{{c.SecondText == "(1 X ) ", false}}));

    // A third message with the same relay is answered from what came, without a query.
    TSearchAddress third(Zones, cache);
    const std::shared_ptr<TPendingLookup> three = third.StartLookup(OneRelay);
    EXPECT_TRUE(three->Ready());
    EXPECT_EQ(three->Result().Text, c.SecondText);
    EXPECT_EQ(cache->QueriesSent(), 4u);
    ::unsetenv("TARNWICK_DNS_SERVERS");
}

INSTANTIATE_TEST_SUITE_P(Actions, LookupCacheTest, ::testing::ValuesIn(Cases),
                         [](const auto& info) { return info.param.Name; });
