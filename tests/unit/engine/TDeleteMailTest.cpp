// Emptying the trash against a POP3 server that refuses DELE on purpose, Stop in the middle, and
// the local removal and renumbering of what was deleted.
#include "engine/TDeleteMail.h"

#include <algorithm>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/MessageTexts.h"
#include "engine/TTrash.h"
#include "support/TFakeMaildrop.h"
#include "support/TFakePop3Server.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick;
using namespace tarnwick::engine;
using namespace tarnwick::test;
using ::testing::ElementsAreArray;

namespace {

// A list of records with these numbers, in this order; the subject names the number.
void FillList(accounts::TUser& user, const std::vector<std::int32_t>& numbers)
{
    user.Mails.Clear();
    for (const std::int32_t n : numbers) {
        accounts::TMailMessage record;
        record.Number = n;
        record.Subject = "Message " + std::to_string(n);
        record.UniqueId = "uid-" + std::to_string(n);
        user.Mails.Add(record);
    }
    user.SyncedCount = static_cast<std::int32_t>(numbers.size());
}

std::vector<std::size_t> IndicesOf(const accounts::TUser& user, const std::vector<std::int32_t>& numbers)
{
    std::vector<std::size_t> indices;
    for (std::size_t i = 0; i < user.Mails.Count(); ++i)
        if (std::find(numbers.begin(), numbers.end(), user.Mails.At(i)->Number) != numbers.end())
            indices.push_back(i);
    return indices;
}

// "number:subject" of every record, in list order.
std::vector<std::string> Listing(const accounts::TUser& user)
{
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < user.Mails.Count(); ++i)
        rows.push_back(std::to_string(user.Mails.At(i)->Number) + ":" + user.Mails.At(i)->Subject +
                       (user.Mails.At(i)->Trashed ? " (trash)" : ""));
    return rows;
}

struct TRenumberCase
{
    std::string Name;
    std::vector<std::int32_t> List;    // numbers in list order
    std::vector<std::int32_t> Deleted; // numbers deleted on the server
    std::vector<std::string> Expected;
};
void PrintTo(const TRenumberCase& c, std::ostream* os)
{
    *os << c.Name;
}

class RenumberTest : public ::testing::TestWithParam<TRenumberCase>
{};

TEST_P(RenumberTest, NumbersFollowTheServer)
{
    const TRenumberCase& c = GetParam();
    accounts::TUser user;
    FillList(user, c.List);
    RemoveDeleted(user, IndicesOf(user, c.Deleted));
    EXPECT_THAT(Listing(user), ElementsAreArray(c.Expected));
    EXPECT_EQ(user.SyncedCount, static_cast<std::int32_t>(c.Expected.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, RenumberTest,
    ::testing::Values(
        TRenumberCase{
            "TwoAndFourOfFive", {1, 2, 3, 4, 5}, {2, 4}, {"1:Message 1", "2:Message 3", "3:Message 5"}},
        // Workers add records in the order they arrive.
        TRenumberCase{"ArrivalOrder", {3, 1, 5, 2, 4}, {1, 5}, {"1:Message 2", "2:Message 3", "3:Message 4"}},
        // Message 3 never arrived: the others still get the server's new numbers.
        TRenumberCase{"ListWithAGap", {1, 2, 4, 5}, {2}, {"1:Message 1", "3:Message 4", "4:Message 5"}},
        TRenumberCase{"NothingDeleted", {2, 1}, {}, {"1:Message 1", "2:Message 2"}}),
    [](const auto& info) { return info.param.Name; });

// The account of the server's messages 1 to `count`, each record carrying its message's header as a
// receive leaves it.
void ListFromServer(accounts::TUser& user, const TFakeMaildrop& server, const TTempHome& home,
                    std::int32_t count)
{
    accounts::TUserID id;
    id.AccountName = "joe";
    id.Password = "secret";
    id.Host = "127.0.0.1";
    id.Port = server.Port();
    user.SetID(id);
    std::vector<std::int32_t> numbers;
    for (std::int32_t n = 1; n <= count; ++n)
        numbers.push_back(n);
    FillList(user, numbers);
    retrieval::TPOP3Client probe(id, {}, home / "cache");
    probe.Open();
    for (std::int32_t n = 1; n <= count; ++n) {
        retrieval::THeaderResult header = probe.Header(n);
        user.Mails.At(static_cast<std::size_t>(n - 1))->CacheName = header.CacheName;
        user.Mails.At(static_cast<std::size_t>(n - 1))->Headers = header.Header.Lines;
    }
}

// The DELE commands of one session, in the order they came.
std::vector<std::string> DeleCommands(const std::vector<std::string>& session)
{
    std::vector<std::string> dele;
    for (const std::string& command : session)
        if (command.starts_with("DELE "))
            dele.push_back(command);
    return dele;
}

class TStopAfter : public TDeleteObserver
{
public:
    TStopAfter(TDeleteMail*& deletion, int calls)
        : Deletion(deletion)
        , Calls(calls)
    {}
    void SetStatus(const std::string& text) override { Statuses.push_back(text); }
    void SetProgress(int percent) override
    {
        Progress.push_back(percent);
        if (--Calls == 0)
            Deletion->Stop();
    }
    TDeleteMail*& Deletion;
    int Calls;
    std::vector<std::string> Statuses;
    std::vector<int> Progress;
};

struct TDeleCase
{
    std::string Name;
    TMaildropFaults Faults;
    int StopAfterProgress;         // 0: never
    std::vector<std::string> Dele; // DELE commands the server saw
    std::vector<std::string> Listing;
    bool TrashLeft;
    std::size_t Errors;
    // The DELEs that reached the server before the reply to the command before them was sent.
    std::vector<std::string> Ahead = {};
};
void PrintTo(const TDeleCase& c, std::ostream* os)
{
    *os << c.Name;
}

class DeleteLoopTest : public ::testing::TestWithParam<TDeleCase>
{};

TEST_P(DeleteLoopTest, DeletesWhatTheServerAccepts)
{
    const TDeleCase& c = GetParam();
    TTempHome home;
    TFakeMaildrop server(TFakeMaildrop::Messages(5), c.Faults);
    accounts::TUser user;
    ListFromServer(user, server, home, 5);
    TrashMessages(user, IndicesOf(user, {2, 3, 4}));

    TScriptedPrompter prompter;
    TDeleteMail* current = nullptr;
    TStopAfter observer(current, c.StopAfterProgress);
    TDeleteMail deletion(user, home / "cache", prompter, &observer);
    current = &deletion;
    std::int32_t serverCount = 5;
    const TEmptyTrashResult result = EmptyTrash(user, deletion, serverCount);

    EXPECT_TRUE(result.Ran);
    EXPECT_TRUE(prompter.Log.empty());
    const std::vector<std::vector<std::string>> sessions = server.Commands();
    EXPECT_THAT(DeleCommands(sessions.back()), ElementsAreArray(c.Dele));
    EXPECT_EQ(sessions.back().back(), "QUIT");
    EXPECT_THAT(DeleCommands(server.PipelinedCommands()), ElementsAreArray(c.Ahead));
    EXPECT_EQ(observer.Progress.size(), c.Dele.size()); // one step for every reply
    EXPECT_THAT(Listing(user), ElementsAreArray(c.Listing));
    EXPECT_EQ(user.TrashNotEmpty, c.TrashLeft);
    EXPECT_EQ(deletion.Errors().size(), c.Errors);
    EXPECT_EQ(serverCount, 5 - static_cast<std::int32_t>(result.Deleted));
    EXPECT_EQ(observer.Statuses, (std::vector<std::string>{"Connecting ...", "Verifing ...", "Deleting ...",
                                                           "Disconnecting ..."}));
}

TMaildropFaults RefuseDele(std::int32_t n, int times, bool pipelining = true)
{
    TMaildropFaults faults;
    faults.FailDele = n;
    faults.FailDeleTimes = times;
    faults.Pipelining = pipelining;
    return faults;
}

TMaildropFaults OneAtATime()
{
    TMaildropFaults faults;
    faults.Pipelining = false;
    return faults;
}

// Without PIPELINING one DELE at a time: a refused one is tried again at once, and Stop lands
// between two DELEs.
INSTANTIATE_TEST_SUITE_P(
    OneAtATime, DeleteLoopTest,
    ::testing::Values(TDeleCase{"AllAccepted",
                                OneAtATime(),
                                0,
                                {"DELE 2", "DELE 3", "DELE 4"},
                                {"1:Message 1", "2:Message 5"},
                                false,
                                0},
                      TDeleCase{"RefusedTwiceThenAccepted",
                                RefuseDele(3, 2, false),
                                0,
                                {"DELE 2", "DELE 3", "DELE 3", "DELE 3", "DELE 4"},
                                {"1:Message 1", "2:Message 5"},
                                false,
                                0},
                      // A server that never accepts one DELE ends the loop there; what was marked is deleted
                      // and the rest stays in the trash under the server's new numbers.
                      TDeleCase{"RefusedEveryTime",
                                RefuseDele(3, -1, false),
                                0,
                                {"DELE 2", "DELE 3", "DELE 3", "DELE 3", "DELE 3", "DELE 3"},
                                {"1:Message 1", "2:Message 3 (trash)", "3:Message 4 (trash)", "4:Message 5"},
                                true,
                                1},
                      TDeleCase{"StopAfterTheFirst",
                                OneAtATime(),
                                1,
                                {"DELE 2"},
                                {"1:Message 1", "2:Message 3 (trash)", "3:Message 4 (trash)", "4:Message 5"},
                                true,
                                0},
                      TDeleCase{"StopAfterTheSecond",
                                OneAtATime(),
                                2,
                                {"DELE 2", "DELE 3"},
                                {"1:Message 1", "2:Message 4 (trash)", "3:Message 5"},
                                true,
                                0}),
    [](const auto& info) { return info.param.Name; });

// With PIPELINING the DELEs go in batches that grow from one: here DELE 2 alone, then DELE 3 and 4
// together. A refused DELE leads the next batch; Stop lets the batch under way be answered, and
// what it marked goes.
INSTANTIATE_TEST_SUITE_P(
    Pipelined, DeleteLoopTest,
    ::testing::Values(
        TDeleCase{"AllAccepted",
                  {},
                  0,
                  {"DELE 2", "DELE 3", "DELE 4"},
                  {"1:Message 1", "2:Message 5"},
                  false,
                  0,
                  {"DELE 4"}},
        TDeleCase{"RefusedTwiceThenAccepted",
                  RefuseDele(3, 2),
                  0,
                  {"DELE 2", "DELE 3", "DELE 4", "DELE 3", "DELE 3"},
                  {"1:Message 1", "2:Message 5"},
                  false,
                  0,
                  {"DELE 4"}},
        // DELE 4 was on its way with the first DELE 3, so it goes; message 3 stays in the trash.
        TDeleCase{"RefusedEveryTime",
                  RefuseDele(3, -1),
                  0,
                  {"DELE 2", "DELE 3", "DELE 4", "DELE 3", "DELE 3", "DELE 3", "DELE 3"},
                  {"1:Message 1", "2:Message 3 (trash)", "3:Message 5"},
                  true,
                  1,
                  {"DELE 4"}},
        TDeleCase{"StopAfterTheFirst",
                  {},
                  1,
                  {"DELE 2"},
                  {"1:Message 1", "2:Message 3 (trash)", "3:Message 4 (trash)", "4:Message 5"},
                  true,
                  0},
        // Stop at the reply to DELE 3: DELE 4 was sent with it, is answered, and goes too.
        TDeleCase{"StopAfterTheSecond",
                  {},
                  2,
                  {"DELE 2", "DELE 3", "DELE 4"},
                  {"1:Message 1", "2:Message 5"},
                  false,
                  0,
                  {"DELE 4"}}),
    [](const auto& info) { return info.param.Name; });

// --- many messages: the batches, and a fault in the middle of one -------------------------------

enum class TBatchEnd
{
    AllGone,     // every trashed message is deleted
    RefusedKept, // all that were sent except the refused message
    Stopped,     // the trashed messages up to the last DELE sent
    NothingGone, // a doubtful reply: the session was dropped without QUIT
};

struct TBatchCase
{
    std::string Name;
    std::vector<TReplyFault> Replies;
    bool Pipelining;
    int StopAfterProgress; // 0: never
    TBatchEnd End;
    int FaultedSent = 0; // how often the faulted DELE was sent; 0: not checked
    int MostWaits = 0;   // most commands of the session that waited for a reply; 0: not checked
};
void PrintTo(const TBatchCase& c, std::ostream* os)
{
    *os << c.Name;
}

class BatchDeletionTest : public ::testing::TestWithParam<TBatchCase>
{};

constexpr std::int32_t BatchMessages = 500;
constexpr std::int32_t Faulted = 317; // a trashed message in the middle of a batch

// 300 of 500 messages trashed, in runs of three; the server is faulted at one DELE.
TEST_P(BatchDeletionTest, DeletesExactlyWhatWasAnswered)
{
    const TBatchCase& c = GetParam();
    TTempHome home;
    TMaildropFaults faults;
    faults.Pipelining = c.Pipelining;
    faults.Replies = c.Replies;
    TFakeMaildrop server(TFakeMaildrop::Messages(BatchMessages), faults);
    accounts::TUser user;
    ListFromServer(user, server, home, BatchMessages);
    std::vector<std::int32_t> trashed;
    for (std::int32_t n = 1; n <= BatchMessages; ++n)
        if (n % 5 >= 1 && n % 5 <= 3)
            trashed.push_back(n);
    ASSERT_EQ(trashed.size(), 300u);
    TrashMessages(user, IndicesOf(user, trashed));

    TScriptedPrompter prompter;
    TDeleteMail* current = nullptr;
    TStopAfter observer(current, c.StopAfterProgress);
    TDeleteMail deletion(user, home / "cache", prompter, &observer);
    deletion.SetReplyTimeoutMs(5000);
    current = &deletion;
    std::int32_t serverCount = BatchMessages;
    std::optional<TEmptyTrashResult> result;
    std::string error;
    try {
        result = EmptyTrash(user, deletion, serverCount);
    } catch (const TDeleteError& e) {
        error = e.what();
    }

    const std::vector<std::string> session = server.Commands().back();
    const std::vector<std::string> dele = DeleCommands(session);
    const std::vector<std::string> ahead = server.PipelinedCommands();
    if (c.Pipelining) {
        EXPECT_GT(DeleCommands(ahead).size() * 2, dele.size()) << "the DELEs did not go in batches";
    } else {
        EXPECT_THAT(ahead, ::testing::IsEmpty());
    }
    if (c.MostWaits) {
        EXPECT_LE(session.size() - ahead.size(), static_cast<std::size_t>(c.MostWaits));
    }
    if (c.FaultedSent) {
        EXPECT_EQ(std::count(dele.begin(), dele.end(), "DELE " + std::to_string(Faulted)), c.FaultedSent);
    }
    EXPECT_TRUE(prompter.Log.empty());

    if (c.End == TBatchEnd::NothingGone) {
        EXPECT_FALSE(result);
        EXPECT_THAT(error, ::testing::HasSubstr("Nothing was deleted on the server"));
        EXPECT_THAT(session, ::testing::Not(::testing::Contains("QUIT")));
        EXPECT_THAT(server.Deleted(), ::testing::IsEmpty());
        EXPECT_EQ(user.Mails.Count(), static_cast<std::size_t>(BatchMessages));
        EXPECT_EQ(TrashedIndices(user).size(), trashed.size());
        EXPECT_EQ(serverCount, BatchMessages);
        return;
    }

    ASSERT_TRUE(result) << error;
    EXPECT_TRUE(result->Ran);
    EXPECT_EQ(session.back(), "QUIT");
    // The messages sent a DELE are the first trashed ones, in order, and every one of them that the
    // server accepted is gone: what was answered before the QUIT, nothing less, nothing more.
    std::vector<std::int32_t> sent;
    for (const std::string& command : dele)
        sent.push_back(std::stoi(command.substr(5)));
    std::sort(sent.begin(), sent.end());
    sent.erase(std::unique(sent.begin(), sent.end()), sent.end());
    ASSERT_LE(sent.size(), trashed.size());
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), trashed.begin()));
    std::vector<std::string> gone;
    for (const std::int32_t n : sent)
        if (!(c.End == TBatchEnd::RefusedKept && n == Faulted))
            gone.push_back("uid-" + std::to_string(n));
    EXPECT_EQ(server.Deleted(), gone);
    const auto left = static_cast<std::int32_t>(BatchMessages - gone.size());
    EXPECT_EQ(serverCount, left);
    EXPECT_EQ(user.Mails.Count(), static_cast<std::size_t>(left));
    EXPECT_EQ(user.TrashNotEmpty, gone.size() < trashed.size());

    // One step for every reply, never back.
    EXPECT_EQ(observer.Progress.size(), dele.size());
    EXPECT_TRUE(std::is_sorted(observer.Progress.begin(), observer.Progress.end()));

    switch (c.End) {
    case TBatchEnd::AllGone:
        EXPECT_EQ(gone.size(), trashed.size());
        EXPECT_EQ(observer.Progress.back(), 100);
        EXPECT_THAT(deletion.Errors(), ::testing::IsEmpty());
        break;
    case TBatchEnd::RefusedKept: {
        ASSERT_EQ(deletion.Errors().size(), 1u);
        EXPECT_THAT(deletion.Errors()[0], ::testing::HasSubstr("message " + std::to_string(Faulted) + ":"));
        const std::vector<std::size_t> still = TrashedIndices(user);
        EXPECT_TRUE(std::any_of(still.begin(), still.end(), [&](std::size_t i) {
            return user.Mails.At(i)->Subject == "Message " + std::to_string(Faulted);
        }));
        break;
    }
    case TBatchEnd::Stopped:
        EXPECT_LT(sent.size(), trashed.size());
        EXPECT_GE(sent.size(), static_cast<std::size_t>(c.StopAfterProgress));
        EXPECT_THAT(deletion.Errors(), ::testing::IsEmpty());
        break;
    case TBatchEnd::NothingGone:
        break;
    }
}

TReplyFault AtFaulted(TReplyFault::TKind kind, int times = -1)
{
    return {"DELE " + std::to_string(Faulted), kind, times};
}

using TKind = TReplyFault::TKind;

INSTANTIATE_TEST_SUITE_P(
    Batches, BatchDeletionTest,
    ::testing::Values(
        // About twenty round trips for the whole session, where one command at a time needs 1,200.
        TBatchCase{"ThreeHundredOfFiveHundred", {}, true, 0, TBatchEnd::AllGone, 0, 25},
        TBatchCase{"OneAtATime", {}, false, 0, TBatchEnd::AllGone},
        TBatchCase{"GarbledDele", {AtFaulted(TKind::Garble)}, true, 0, TBatchEnd::NothingGone},
        TBatchCase{"ExtraLineAfterDele", {AtFaulted(TKind::ExtraLine)}, true, 0, TBatchEnd::NothingGone},
        TBatchCase{"CutDuringDele", {AtFaulted(TKind::Cut)}, true, 0, TBatchEnd::NothingGone},
        TBatchCase{"RefusedTwice", {AtFaulted(TKind::Refuse, 2)}, true, 0, TBatchEnd::AllGone, 3},
        TBatchCase{"RefusedEveryTime",
                   {AtFaulted(TKind::Refuse)},
                   true,
                   0,
                   TBatchEnd::RefusedKept,
                   TDeleteMail::MaxDeleteAttempts},
        TBatchCase{"StopInTheMiddle", {}, true, 150, TBatchEnd::Stopped}),
    [](const auto& info) { return info.param.Name; });

// Stop while the session is still being set up cuts it: a server that hangs there cannot hold the
// deletion, nothing was marked, so nothing is deleted and nothing is reported.
class TStopAtStatus : public TDeleteObserver
{
public:
    TStopAtStatus(TDeleteMail*& deletion, std::string status)
        : Deletion(deletion)
        , Status(std::move(status))
    {}
    void SetStatus(const std::string& text) override
    {
        if (text == Status)
            Deletion->Stop();
    }
    void SetProgress(int) override { ++Progress; }
    TDeleteMail*& Deletion;
    std::string Status;
    int Progress = 0;
};

class StopBeforeDeletingTest : public ::testing::TestWithParam<const char*>
{};

TEST_P(StopBeforeDeletingTest, CutsTheSessionAndDeletesNothing)
{
    TTempHome home;
    // The server answers the login and then never answers STAT.
    std::vector<TFakeStep> script = TFakePop3Server::Login();
    script.push_back(Expect("STAT"));
    script.push_back(Stall());
    TFakePop3Server server(script);

    accounts::TUser user;
    accounts::TUserID id;
    id.AccountName = "joe";
    id.Password = "secret";
    id.Host = "127.0.0.1";
    id.Port = server.Port();
    user.SetID(id);
    FillList(user, {1, 2, 3});
    TrashMessages(user, IndicesOf(user, {2}));

    TScriptedPrompter prompter;
    TDeleteMail* current = nullptr;
    TStopAtStatus observer(current, GetParam());
    TDeleteMail deletion(user, home / "cache", prompter, &observer);
    current = &deletion;
    std::int32_t serverCount = 3;
    const TEmptyTrashResult result = EmptyTrash(user, deletion, serverCount);

    EXPECT_FALSE(result.Ran);
    EXPECT_TRUE(prompter.Log.empty());
    EXPECT_EQ(observer.Progress, 0);
    EXPECT_EQ(serverCount, 3);
    EXPECT_TRUE(deletion.DeletedRows().empty());
    EXPECT_EQ(user.Mails.Count(), 3u);
    EXPECT_TRUE(user.TrashNotEmpty);
    for (const std::string& line : server.Received())
        EXPECT_FALSE(line.starts_with("DELE")) << line;
}

INSTANTIATE_TEST_SUITE_P(Phases, StopBeforeDeletingTest, ::testing::Values("Connecting ...", "Verifing ..."),
                         [](const auto& info) { return std::string(info.param).substr(0, 4); });

TEST(TrashTest, RestoreKeepsTrashNotEmptyTrue)
{
    accounts::TUser user;
    FillList(user, {1, 2, 3});
    TrashMessages(user, {0, 2});
    EXPECT_TRUE(user.TrashNotEmpty);
    EXPECT_EQ(TrashedIndices(user), (std::vector<std::size_t>{0, 2}));
    RestoreMessages(user, {0});
    EXPECT_TRUE(user.TrashNotEmpty);
    RestoreMessages(user, {2});
    EXPECT_FALSE(user.TrashNotEmpty);
}

} // namespace
