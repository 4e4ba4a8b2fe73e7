// The receive with block lists, as the program runs it (its options, lists, Databases.ini and the
// default classifiers), against a DNS server that answers from a table, late when a test wants:
// the header download does not wait for the answers, each relay address is asked of each zone once
// per receive, Stop ends at once, and a server that never answers does not make a worker hold every
// header.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "classify/TAddressLists.h"
#include "core/Modules.h"
#include "engine/DownloadLock.h"
#include "engine/TDownloadMail.h"
#include "engine/TPOP3ClientThread.h"
#include "support/TDnsmasq.h"
#include "support/TFakeMaildrop.h"
#include "support/TReceiveRecorder.h"
#include "support/TTempHome.h"

using namespace tarnwick;
using namespace tarnwick::engine;
using namespace tarnwick::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* Zone = "bl.test";
constexpr const char* SecondZone = "second.test";

// A message that passed the given relays (one Received line each), from `from`.
std::string Relayed(int n, const std::vector<std::string>& relays,
                    const std::string& from = "joe@example.org")
{
    std::string text;
    for (const std::string& relay : relays)
        text += "Received: from relay.example (relay.example [" + relay +
                "]) by mx.example; Mon, 1 Jan 2024 10:00:00 +0000\r\n";
    return text + TFakeMaildrop::Message(n, from);
}

std::string Listed(const std::string& reversed, const std::string& zone)
{
    return reversed + "." + zone;
}

class ReceiveLookupTest : public ::testing::Test
{
protected:
    TTempHome Home;
    TReceiveRecorder Recorder;
    accounts::TUser User;

    // The program's modules; a listed sender is spam, any other good.
    void SetUp() override
    {
        std::vector<std::string> notices;
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), notices);
        core::LoadOptionsAtStart();
        core::TOptionRec options = *core::Options();
        options.ResponseAction = 2;
        options.DatabaseAction = 1;
        core::PublishOptions(options);
    }
    void TearDown() override
    {
        ::unsetenv("TARNWICK_DNS_SERVERS");
        core::FinalizeModules();
    }

    void Account(int port, int connections)
    {
        accounts::TUserID id;
        id.AccountName = "joe";
        id.Password = "secret";
        id.RememberPassword = true;
        id.DisplayName = "Joe";
        id.Host = "127.0.0.1";
        id.Port = port;
        User.SetID(id);
        User.Settings.Connections = connections;
        User.Settings.TimeoutMs = 5000;
    }

    // The block lists of the receive: from Databases.ini through the self-test, as the program
    // does, or given (no self-test) when the test holds back every answer.
    TReceiveConfig Config(std::optional<std::vector<std::string>> zones = std::nullopt)
    {
        TReceiveConfig config;
        config.CacheFolder = Home / "VedOzurCache";
        config.Zones = std::move(zones);
        config.ReplyTimeoutMs = 5000;
        return config;
    }

    void WriteDatabases(const std::vector<std::string>& zones)
    {
        std::string text = "[Databases]\r\n";
        for (const std::string& zone : zones)
            text += zone + "=-1\r\n";
        WriteFileBytes(core::Folders().DataFolder + "Databases.ini", text);
    }

    std::vector<std::string> Subjects() const
    {
        std::lock_guard lock(DownloadLock());
        std::vector<std::string> subjects;
        for (std::size_t i = 0; i < User.Mails.Count(); ++i)
            subjects.push_back(User.Mails.At(i)->Subject);
        return subjects;
    }
    std::size_t ListedCount() const
    {
        std::lock_guard lock(DownloadLock());
        return User.Mails.Count();
    }
};

// The TOP commands the server has had so far, over all sessions.
std::set<std::string> TopsArrived(const TFakeMaildrop& server)
{
    std::set<std::string> tops;
    for (const auto& session : server.Commands())
        for (const std::string& command : session)
            if (command.starts_with("TOP "))
                tops.insert(command);
    return tops;
}

bool WaitUntil(const std::function<bool()>& done, Clock::duration limit)
{
    for (const auto until = Clock::now() + limit; Clock::now() < until; std::this_thread::sleep_for(5ms))
        if (done())
            return true;
    return done();
}

struct TSessionKind
{
    std::string Name;
    bool Pipelining; // the server offers PIPELINING; else one command at a time
};

void PrintTo(const TSessionKind& kind, std::ostream* out)
{
    *out << kind.Name;
}

class HeldAnswersTest : public ReceiveLookupTest, public ::testing::WithParamInterface<TSessionKind>
{};

} // namespace

// While the block list holds back every answer, the worker still asks for every header, and lists
// none of them: a record is listed when its answers are in. Released, the list is the one a
// waiting worker would give, in the order fetched. Waiting inline, the worker would have asked for
// the second header (or the ninth, pipelining) only after the first answer, i.e. after three
// seconds.
TEST_P(HeldAnswersTest, HeadersKeepComingWhileTheAnswersAreOut)
{
    constexpr int Count = 20;
    std::set<std::string> listed;
    std::vector<std::string> messages;
    for (int n = 1; n <= Count; ++n) {
        messages.push_back(Relayed(n, {"203.0.113." + std::to_string(n)}));
        if (n % 2 == 0)
            listed.insert(Listed(std::to_string(n) + ".113.0.203", Zone));
    }
    TScriptedDnsServer dns(listed, [](const std::string&) { return true; });
    ::setenv("TARNWICK_DNS_SERVERS", dns.Server().c_str(), 1);
    TMaildropFaults faults;
    faults.Capa = GetParam().Pipelining;
    TFakeMaildrop server(messages, faults);
    Account(server.Port(), 1);

    TDownloadMail receive(User, Recorder, Config(std::vector<std::string>{Zone}));
    ASSERT_TRUE(receive.Start());
    const bool allAsked = WaitUntil([&] { return TopsArrived(server).size() == Count; }, 2s);
    const bool allQueried = WaitUntil([&] { return dns.Holding() >= Count; }, 500ms);
    const std::size_t listedMeanwhile = ListedCount();
    dns.Release();
    const TReceiveReport report = receive.Wait();

    EXPECT_TRUE(allAsked) << TopsArrived(server).size() << " headers asked for while the answers were out";
    EXPECT_EQ(listedMeanwhile, 0u) << "listed before its answer came";
    EXPECT_TRUE(allQueried) << dns.Holding() << " queries out at once";
    EXPECT_EQ(report.Outcome, TReceiveOutcome::Finished);
    std::vector<std::string> expected;
    for (int n = 1; n <= Count; ++n)
        expected.push_back((n % 2 == 0 ? " [ Spam ] Message " : "Message ") + std::to_string(n));
    EXPECT_EQ(Subjects(), expected);
}

INSTANTIATE_TEST_SUITE_P(Sessions, HeldAnswersTest,
                         ::testing::Values(TSessionKind{"Pipelined", true}, TSessionKind{"OneByOne", false}),
                         [](const auto& info) { return info.param.Name; });

// Within a receive every relay address is asked of every zone once, however many messages carry it
// and whichever worker or round fetches them; only the self-test asks its test points besides. The
// verdicts are those of asking for each message: white list first (its relay is never asked),
// then the block lists.
TEST_F(ReceiveLookupTest, EachRelayIsAskedOfEachZoneOnce)
{
    const struct
    {
        const char* Name;
        int Connections;
        TMaildropFaults Faults;
    } cases[] = {
        {"one worker", 1, {}},
        {"four workers", 4, {}},
        // The first session breaks at message 5; the rest come in a second round of workers.
        {"a second round", 1,
         [] {
             TMaildropFaults faults;
             faults.DropOnTop = 5;
             faults.DropTimes = 1;
             return faults;
         }()},
    };
    const std::vector<std::string> pool{"203.0.113.1", "203.0.113.2", "203.0.113.3"};
    constexpr int Count = 24;
    constexpr int WhiteListed = 7;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        User.Mails.Clear();
        classify::AddressLists().Replace({classify::TListKind::Black, {}},
                                         {classify::TListKind::White, {{"friend@example.org", true, {}}}});
        WriteDatabases({Zone, SecondZone});
        TScriptedDnsServer dns({Listed("2.0.0.127", Zone), Listed("2.0.0.127", SecondZone),
                                Listed("1.113.0.203", Zone), Listed("2.113.0.203", SecondZone)});
        ::setenv("TARNWICK_DNS_SERVERS", dns.Server().c_str(), 1);
        std::vector<std::string> messages;
        for (int n = 1; n <= Count; ++n)
            messages.push_back(n == WhiteListed ? Relayed(n, {"192.0.2.99"}, "friend@example.org")
                                                : Relayed(n, {pool[n % 3], "198.51.100.1"}));
        TFakeMaildrop server(messages, c.Faults);
        Account(server.Port(), c.Connections);
        TDownloadMail receive(User, Recorder, Config());
        ASSERT_EQ(receive.Run().Outcome, TReceiveOutcome::Finished);

        std::map<std::string, int> once;
        for (const char* zone : {Zone, SecondZone})
            for (const char* reversed :
                 {"2.0.0.127", "1.0.0.127", "1.113.0.203", "2.113.0.203", "3.113.0.203", "1.100.51.198"})
                once[Listed(reversed, zone)] = 1;
        EXPECT_EQ(dns.Queries(), once);

        std::map<std::int32_t, std::string> byNumber;
        for (std::size_t i = 0; i < User.Mails.Count(); ++i)
            byNumber[User.Mails.At(i)->Number] = User.Mails.At(i)->Subject;
        ASSERT_EQ(byNumber.size(), static_cast<std::size_t>(Count));
        for (int n = 1; n <= Count; ++n) {
            const bool spam = n != WhiteListed && pool[n % 3] != "203.0.113.3";
            EXPECT_EQ(byNumber[n], (spam ? " [ Spam ] Message " : "Message ") + std::to_string(n)) << n;
        }
    }
}

// Stop while lookups are out ends the receive at once. What was classified before is listed;
// nothing is listed after Stop, and the messages still waiting are left for the next receive.
TEST_F(ReceiveLookupTest, StopWhileAnswersAreOutEndsAtOnceAndListsNothingMore)
{
    constexpr int Count = 10;
    constexpr int Answered = 3; // the first three relays are answered, the others held
    std::vector<std::string> messages;
    std::set<std::string> quick;
    for (int n = 1; n <= Count; ++n) {
        messages.push_back(Relayed(n, {"203.0.113." + std::to_string(n)}));
        if (n <= Answered)
            quick.insert(Listed(std::to_string(n) + ".113.0.203", Zone));
    }
    TScriptedDnsServer dns({}, [quick](const std::string& name) { return quick.count(name) == 0; });
    ::setenv("TARNWICK_DNS_SERVERS", dns.Server().c_str(), 1);
    TFakeMaildrop server(messages);
    Account(server.Port(), 1);
    TDownloadMail receive(User, Recorder, Config(std::vector<std::string>{Zone}));
    ASSERT_TRUE(receive.Start());
    ASSERT_TRUE(
        WaitUntil([&] { return ListedCount() == Answered && TopsArrived(server).size() == Count; }, 2s))
        << ListedCount() << " listed";

    const auto stopped = Clock::now();
    receive.Stop();
    const TReceiveReport report = receive.Wait();
    EXPECT_LT(Clock::now() - stopped, 1s);
    EXPECT_EQ(report.Outcome, TReceiveOutcome::Interrupted);
    EXPECT_EQ(Subjects(), (std::vector<std::string>{"Message 1", "Message 2", "Message 3"}));
    EXPECT_TRUE(Recorder.LinesStarting("error: ").empty());
}

// A block list that never answers costs each query its time-out. Meanwhile a worker fetches only
// so far ahead: it holds at most MaxWaiting records (and a pipeline's worth in flight), not every
// header of the mailbox.
TEST_F(ReceiveLookupTest, ASilentBlockListDoesNotMakeAWorkerHoldEveryHeader)
{
    constexpr std::size_t Limit = TPOP3ClientThread::MaxWaiting;
    constexpr int Count = static_cast<int>(Limit) + 100;
    std::vector<std::string> messages;
    for (int n = 1; n <= Count; ++n)
        messages.push_back(Relayed(n, {"10.0." + std::to_string(n / 256) + "." + std::to_string(n % 256)}));
    TSilentDnsServer dns;
    ::setenv("TARNWICK_DNS_SERVERS", dns.Server().c_str(), 1);
    TFakeMaildrop server(messages);
    Account(server.Port(), 1);
    TDownloadMail receive(User, Recorder, Config(std::vector<std::string>{Zone}));
    ASSERT_TRUE(receive.Start());

    // The first queries time out after three seconds; until then the worker stands at its limit.
    const auto started = Clock::now();
    EXPECT_TRUE(WaitUntil([&] { return TopsArrived(server).size() >= Limit; }, 2s));
    std::this_thread::sleep_for(300ms);
    const std::size_t asked = TopsArrived(server).size();
    const bool beforeTimeOut = Clock::now() - started < 2500ms;
    receive.Stop();
    EXPECT_EQ(receive.Wait().Outcome, TReceiveOutcome::Interrupted);

    ASSERT_TRUE(beforeTimeOut) << "too slow to tell";
    EXPECT_LE(asked, Limit + 16) << "headers fetched ahead of their lookups";
    EXPECT_EQ(ListedCount(), 0u);
}

// A receive classifies with the lists as they were when it started, in every worker: a change
// published while it runs (here from the password prompt, after the start and before any worker)
// reaches the next receive only. Both ways: a sender black-listed meanwhile, and one taken off.
TEST_F(ReceiveLookupTest, AReceiveKeepsTheListsOfItsStart)
{
    constexpr int Count = 6;
    std::vector<std::string> messages;
    for (int n = 1; n <= Count; ++n)
        messages.push_back(
            TFakeMaildrop::Message(n, n % 2 == 0 ? "spammer@example.org" : "friend@example.org"));
    TFakeMaildrop server(messages);
    Account(server.Port(), 2);
    User.MutableID().RememberPassword = false;
    const auto subjects = [](bool spammerListed) {
        std::vector<std::string> expected;
        for (int n = 1; n <= Count; ++n)
            expected.push_back((n % 2 == 0 && spammerListed ? " [ Spam ] Message " : "Message ") +
                               std::to_string(n));
        return expected;
    };
    classify::AddressLists().Replace({classify::TListKind::Black, {}}, {classify::TListKind::White, {}});

    const struct
    {
        const char* Name;
        bool ListedAtStart;
        bool ListedMeanwhile;
    } rounds[] = {
        {"black-listed during the receive", false, true},
        {"the next receive sees it; taken off during this one", true, false},
        {"the next receive sees that", false, false},
    };
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.Name);
        TReceiveConfig config = Config(std::vector<std::string>{});
        config.PasswordPrompt = [&](const accounts::TUserID&) {
            classify::AddressLists().Change(classify::TListKind::Black,
                                            [&](classify::TAddressList& black, auto&) {
                                                black.Rows.clear();
                                                if (round.ListedMeanwhile)
                                                    black.Rows.push_back({"spammer@example.org", true, {}});
                                            });
            return std::optional<std::pair<std::string, bool>>({"secret", false});
        };
        TDownloadMail receive(User, Recorder, config);
        const TReceiveReport report = receive.Run();
        ASSERT_EQ(report.Outcome, TReceiveOutcome::Finished);
        EXPECT_EQ(report.Workers, 2u);
        std::map<std::int32_t, std::string> byNumber;
        {
            std::lock_guard lock(DownloadLock());
            for (std::size_t i = 0; i < User.Mails.Count(); ++i)
                byNumber[User.Mails.At(i)->Number] = User.Mails.At(i)->Subject;
        }
        std::vector<std::string> got;
        for (const auto& [number, subject] : byNumber)
            got.push_back(subject);
        EXPECT_EQ(got, subjects(round.ListedAtStart));
        EXPECT_EQ(
            classify::AddressLists().Snapshot().Listed(classify::TListKind::Black, "spammer@example.org"),
            round.ListedMeanwhile);
    }
}
