#include "classify/TDispatchMail.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "accounts/TMailMessage.h"
#include "classify/TSearchAddress.h"
#include "core/TSnapshot.h"

using namespace tarnwick::classify;
using tarnwick::accounts::TMailMessage;
using tarnwick::core::TOptionRec;

namespace {

// A block-list lookup with a fixed answer that counts how often it is asked.
class TCannedLookup : public TBlockListLookup
{
public:
    explicit TCannedLookup(std::string text)
        : Text_(std::move(text))
    {}
    TLookupResult LookupDetailed(const std::vector<std::string>&) override
    {
        ++Calls;
        TLookupResult result{Addresses, {}, Text_};
        result.RelaysFound = RelaysFound;
        result.Aborted = Aborts > 0;
        return result;
    }
    const std::vector<std::string>& Servers() const override { return Servers_; }
    void Abort() noexcept override { ++Aborts; }

    std::atomic<int> Calls = 0;
    std::atomic<int> Aborts = 0;
    std::size_t RelaysFound = 1;
    std::vector<std::string> Addresses{"192.0.2.7"};
    std::vector<std::string> Servers_{"bl.test"};

private:
    std::string Text_;
};

struct TSetup
{
    TAddressLists Lists;
    tarnwick::core::TSnapshot<TOptionRec> Options;
    TCannedLookup* Lookup = nullptr;
    std::unique_ptr<TDispatchMail> Classifier;

    TSetup(std::vector<TAddressRow> white, std::vector<TAddressRow> black, std::string lookupText,
           std::int32_t responseAction = 1, std::int32_t databaseAction = 1)
    {
        Lists.Replace({TListKind::Black, std::move(black)}, {TListKind::White, std::move(white)});
        SetActions(responseAction, databaseAction);
        auto lookup = std::make_unique<TCannedLookup>(std::move(lookupText));
        Lookup = lookup.get();
        Classifier = std::make_unique<TDispatchMail>(
            tarnwick::accounts::TUserID{}, std::move(lookup),
            TClassifySources{[this] { return Lists.Snapshot(); }, [this] { return Options.Load(); }});
    }
    void SetActions(std::int32_t responseAction, std::int32_t databaseAction)
    {
        TOptionRec options;
        options.ResponseAction = responseAction;
        options.DatabaseAction = databaseAction;
        Options.Store(options);
    }
};

TMailMessage From(std::string sender)
{
    TMailMessage message;
    message.FromAddress = std::move(sender);
    message.Headers = {"Received: from h [192.0.2.7] by mx", "From: " + message.FromAddress};
    return message;
}

enum class TExpect
{
    Good,    // white-listed: good whatever the actions, no lookup
    Listed,  // DatabaseAction decides
    Unknown, // ResponseAction decides
};

} // namespace

TEST(DispatchMailTest, DecisionTableWithBothActions)
{
    const std::vector<TAddressRow> none;
    const struct
    {
        const char* Name;
        std::vector<TAddressRow> White;
        std::vector<TAddressRow> Black;
        std::string Sender;
        std::string LookupText;
        TExpect Expect;
    } cases[] = {
        {"in both lists",
         {{"joe@x.org", true, {}}},
         {{"joe@x.org", true, {}}},
         "joe@x.org",
         "(1 ) ",
         TExpect::Good},
        {"white list, blanks around entry and sender",
         {{" joe@x.org\t", true, {}}},
         none,
         "\r joe@x.org ",
         "(1 ) ",
         TExpect::Good},
        {"white entry matches in any letter case",
         {{"Joe@x.org", true, {}}},
         none,
         "joe@x.org",
         "(1 ) ",
         TExpect::Good},
        {"white entry matches a domain in any letter case beyond ASCII",
         {{"joe@b\u00FCcher.example", true, {}}},
         none,
         " JOE@B\u00DCCHER.EXAMPLE.",
         "(1 ) ",
         TExpect::Good},
        {"disabled in white, enabled in black",
         {{"joe@x.org", false, {}}},
         {{"joe@x.org", true, {}}},
         "joe@x.org",
         "(X ) ",
         TExpect::Listed},
        {"black entry matches in any letter case",
         none,
         {{"JOE@x.org", true, {}}},
         "joe@x.org",
         "(X ) ",
         TExpect::Listed},
        {"lower-case black entry, upper-case sender",
         none,
         {{"mailer-daemon@mail.example.org", true, {}}},
         "MAILER-DAEMON@mail.example.org",
         "(X ) ",
         TExpect::Listed},
        {"black entry in other letter case, but disabled",
         none,
         {{"MAILER-DAEMON@mail.example.org", false, {}}},
         "mailer-daemon@mail.example.org",
         "(X ) ",
         TExpect::Unknown},
        {"non-ASCII letters of the local part are not folded",
         none,
         {{"\xC3\xA9t\xC3\xA9@x.org", true, {}}},
         "\xC3\x89T\xC3\x89@x.org",
         "(X ) ",
         TExpect::Unknown},
        {"disabled black entry", none, {{"joe@x.org", false, {}}}, "joe@x.org", "(X X ) ", TExpect::Unknown},
        {"block-list hit", none, none, "joe@x.org", "(X ) (X 1 ) ", TExpect::Listed},
        {"no servers: empty lookup text", none, none, "joe@x.org", "", TExpect::Unknown},
        {"empty sender", none, none, "", "", TExpect::Listed},
        {"sender beginning with @", none, none, "@x.org", "", TExpect::Listed},
        {"sender ending with @", none, none, "joe@", "", TExpect::Listed},
        {"sender without @", none, none, "joe", "", TExpect::Unknown},
        {"implausible sender white-listed in other letter case",
         {{"JOE@", true, {}}},
         none,
         "joe@",
         "",
         TExpect::Good},
    };
    const struct
    {
        std::int32_t Action;
        std::uint8_t Listed;
        std::uint8_t Unknown;
    } actions[] = {{0, ResultTrash, ResultTrash},
                   {1, ResultSpam, ResultQuestionable},
                   {2, ResultGood, ResultGood},
                   {-1, ResultGood, ResultGood}};
    for (const auto& c : cases) {
        for (const auto& response : actions) {
            for (const auto& database : actions) {
                SCOPED_TRACE(std::string(c.Name) + ", ResponseAction " + std::to_string(response.Action) +
                             ", DatabaseAction " + std::to_string(database.Action));
                TSetup setup(c.White, c.Black, c.LookupText, response.Action, database.Action);
                const std::uint8_t result = setup.Classifier->ClassifyMessage(From(c.Sender));
                switch (c.Expect) {
                case TExpect::Good:
                    EXPECT_EQ(result, ResultGood);
                    EXPECT_EQ(setup.Lookup->Calls, 0) << "a white-listed sender is never looked up";
                    break;
                case TExpect::Listed:
                    EXPECT_EQ(result, database.Listed);
                    EXPECT_EQ(setup.Lookup->Calls, 1);
                    break;
                case TExpect::Unknown:
                    EXPECT_EQ(result, response.Unknown);
                    EXPECT_EQ(setup.Lookup->Calls, 1);
                    break;
                }
            }
        }
    }
}

TEST(DispatchMailTest, ExplainNamesWhatDecided)
{
    TSetup setup({}, {{"joe@x.org", true, {}}}, "(1 ) ", 1, 0);
    const TClassifyReport report = setup.Classifier->Explain(From("joe@x.org"));
    EXPECT_EQ(report.Result, ResultTrash);
    EXPECT_EQ(ExplainText(report), "Sender: joe@x.org\n"
                                   "White list: no enabled entry\n"
                                   "Spam databases: bl.test\n"
                                   "Relay addresses: 192.0.2.7\n"
                                   "Lookup result: \"(1 ) \"\n"
                                   "Black list: enabled entry\n"
                                   "Plausible sender address: yes\n"
                                   "Decided by: black list, spam databases (DatabaseAction = 0)\n"
                                   "Result: 2 trash\n");
}

// Stop reaches the lookup from another thread; the message classified afterwards comes out as if
// nothing were listed, and the report says the lookup was stopped.
TEST(DispatchMailTest, AbortReachesTheLookupAndTheReportSaysSo)
{
    TSetup setup({}, {}, "(X ) ", 1, 1);
    EXPECT_FALSE(setup.Classifier->Aborted());
    std::thread([&] { setup.Classifier->Abort(); }).join();
    EXPECT_TRUE(setup.Classifier->Aborted());
    EXPECT_EQ(setup.Lookup->Aborts, 1);

    const TClassifyReport report = setup.Classifier->Explain(From("joe@x.org"));
    EXPECT_TRUE(report.LookupAborted);
    EXPECT_EQ(report.Result, ResultQuestionable);
    EXPECT_NE(ExplainText(report).find("Lookup result: \"(X ) \" (stopped: unanswered queries count as not "
                                       "listed)\n"),
              std::string::npos)
        << ExplainText(report);
}

// A message with more relays than are asked about says how many were left out.
TEST(DispatchMailTest, ExplainSaysWhenRelaysWereCapped)
{
    TSetup setup({}, {}, "(X ) ");
    setup.Lookup->RelaysFound = 640;
    const TClassifyReport report = setup.Classifier->Explain(From("joe@x.org"));
    EXPECT_EQ(report.RelaysFound, 640u);
    EXPECT_NE(ExplainText(report).find("Relay addresses: 192.0.2.7 (the first 1 of 640)\n"),
              std::string::npos)
        << ExplainText(report);
}

TEST(DispatchMailTest, WithoutServersOnlyListsAndPlausibilityDecide)
{
    TAddressLists lists;
    tarnwick::core::TSnapshot<TOptionRec> options;
    TOptionRec defaults;
    defaults.ResponseAction = defaults.DatabaseAction = 1;
    options.Store(defaults);
    TDispatchMail classifier({}, std::make_unique<TSearchAddress>(std::vector<std::string>{}),
                             {[&] { return lists.Snapshot(); }, [&] { return options.Load(); }});
    EXPECT_EQ(classifier.ClassifyMessage(From("joe@x.org")), ResultQuestionable);
    EXPECT_EQ(classifier.Explain(From("joe@x.org")).LookupText, "");
    EXPECT_EQ(classifier.ClassifyMessage(From("joe@")), ResultSpam);
}

// Workers classify while the user-interface thread moves the sender between the lists. A worker
// must see the sender in one list or the other, never in neither (which would make it
// questionable) nor a change of one list without the other.
TEST(DispatchMailTest, WorkersSeeEveryListChangeWhole)
{
    TSetup setup({{"joe@x.org", true, {}}}, {}, "(X ) ");
    std::atomic<bool> stop = false;
    std::atomic<int> wrong = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&] {
            TDispatchMail classifier(
                {}, std::make_unique<TCannedLookup>("(X ) "),
                {[&] { return setup.Lists.Snapshot(); }, [&] { return setup.Options.Load(); }});
            const TMailMessage message = From("joe@x.org");
            while (!stop) {
                const std::uint8_t result = classifier.ClassifyMessage(message);
                if (result != ResultGood && result != ResultSpam)
                    ++wrong;
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        setup.Lists.Change(
            i % 2 ? TListKind::White : TListKind::Black,
            [](TAddressList& list, TAddressList& other) { MoveToList(list, other, "joe@x.org"); });
        setup.SetActions(1, 1);
    }
    stop = true;
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(wrong, 0);
}

// The reason kept on the record names the test that decided, with the list entry, the relay and the
// zone that matched, and for unknown senders what the option does.
TEST(DispatchMailTest, ReasonNamesWhatMatched)
{
    const std::vector<TAddressRow> none;
    const struct
    {
        const char* Name;
        std::vector<TAddressRow> White;
        std::vector<TAddressRow> Black;
        std::string Sender;
        std::string LookupText; // two relays, two zones
        std::int32_t ResponseAction;
        std::int32_t DatabaseAction;
        std::string Reason;
    } cases[] = {
        {"white list",
         {{" joe@x.org\t", true, {}}},
         none,
         "joe@x.org",
         "(1 1 ) (1 1 ) ",
         1,
         1,
         "The sender joe@x.org is on the White list."},
        {"white entry in other letter case",
         {{"Joe@X.org", true, {}}},
         none,
         "joe@x.org",
         "",
         1,
         1,
         "The sender joe@x.org is on the White list as \"Joe@X.org\"."},
        {"black entry in other letter case, the second of two",
         none,
         {{"ann@x.org", true, {}}, {"JOE@x.org", true, {}}},
         " joe@x.org",
         "(X X ) (X X ) ",
         1,
         1,
         "The sender joe@x.org is on the Black list as \"JOE@x.org\"."},
        {"black list before a block-list hit",
         none,
         {{"joe@x.org", true, {}}},
         "joe@x.org",
         "(1 X ) (X X ) ",
         1,
         0,
         "The sender joe@x.org is on the Black list."},
        {"second zone lists the second relay", none, none, "joe@x.org", "(X X ) (X 1 ) ", 1, 1,
         "The relay 198.51.100.4 is listed by zen.example (query 4.100.51.198.zen.example)."},
        {"first listing counts", none, none, "joe@x.org", "(X 1 ) (1 1 ) ", 1, 1,
         "The relay 192.0.2.7 is listed by zen.example (query 7.2.0.192.zen.example)."},
        {"listed but kept good by the option", none, none, "joe@x.org", "(1 X ) (X X ) ", 1, 2,
         "The relay 192.0.2.7 is listed by bl.example (query 7.2.0.192.bl.example), but the option for "
         "listed messages keeps it as good."},
        {"implausible sender", none, none, "joe@", "(X X ) (X X ) ", 1, 1,
         "The sender address \"joe@\" is not plausible."},
        {"no sender at all", none, none, "", "(X X ) (X X ) ", 1, 0, "The message gives no sender address."},
        {"disabled black entry, unknown sender marked questionable",
         none,
         {{"joe@x.org", false, {}}},
         "joe@x.org",
         "(X X ) (X X ) ",
         1,
         1,
         "The sender joe@x.org is in neither list: the option for unknown senders marks it questionable."},
        {"unknown sender to the trash", none, none, "joe@x.org", "(X X ) (X X ) ", 0, 1,
         "The sender joe@x.org is in neither list: the option for unknown senders moves it to the trash."},
        {"unknown sender kept good", none, none, "joe@x.org", "", 2, 1,
         "The sender joe@x.org is in neither list: the option for unknown senders keeps it as good."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TSetup setup(c.White, c.Black, c.LookupText, c.ResponseAction, c.DatabaseAction);
        setup.Lookup->Addresses = {"192.0.2.7", "198.51.100.4"};
        setup.Lookup->Servers_ = {"bl.example", "zen.example"};
        EXPECT_EQ(ReasonText(setup.Classifier->Explain(From(c.Sender))), c.Reason);
    }
}

// Reports that the lists rarely give: a stopped lookup, a listing without its relay, a message
// marked as spam.
TEST(ReasonTextTest, ReportsOutsideTheUsualPaths)
{
    TClassifyReport stopped;
    stopped.Sender = "joe@x.org";
    stopped.LookupRan = true;
    stopped.LookupAborted = true;
    stopped.Result = ResultQuestionable;

    TClassifyReport stoppedBlack = stopped;
    stoppedBlack.BlackListed = true;
    stoppedBlack.BlackEntry = "joe@x.org";
    stoppedBlack.Result = ResultSpam;

    TClassifyReport hitWithoutRelay;
    hitWithoutRelay.Sender = "joe@x.org";
    hitWithoutRelay.LookupRan = true;
    hitWithoutRelay.DatabaseHit = true;
    hitWithoutRelay.Result = ResultSpam;

    const struct
    {
        const char* Name;
        TClassifyReport Report;
        std::string Reason;
    } cases[] = {
        {"stopped lookup", stopped, "Not checked against the block lists: the lookup was stopped."},
        {"a list decides even when the lookup stopped", stoppedBlack,
         "The sender joe@x.org is on the Black list."},
        {"listing of an address the report does not carry", hitWithoutRelay,
         "A relay of the message is listed by a block list."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ReasonText(c.Report), c.Reason);
    }
}
