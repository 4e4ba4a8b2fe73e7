// The receive against a POP3 server that misbehaves on purpose: dropped and failing fetches,
// refused logins, an unreachable server, one that goes away before the end check, Stop, the
// password prompt, and what the classification does to each record.
#include "engine/TDownloadMail.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "classify/TDispatchMail.h"
#include "classify/TSearchAddress.h"
#include "core/MessageTexts.h"
#include "engine/TDeleteMail.h"
#include "engine/TTrash.h"
#include "support/TDnsmasq.h"
#include "support/TFakeMaildrop.h"
#include "support/TLineSocket.h"
#include "support/TReceiveRecorder.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick;
using namespace tarnwick::engine;
using namespace tarnwick::test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

const std::string Lost = "error: Connection with POP3 server was lost !";
const std::string Missing =
    "error: Connection with POP3 server was lost! Some messages could not be retrieved.";

// A block-list lookup with no servers: no message is ever listed by it.
class TNoLookup : public classify::TBlockListLookup
{
public:
    classify::TLookupResult LookupDetailed(const std::vector<std::string>&) override { return {}; }
    const std::vector<std::string>& Servers() const override { return Servers_; }

private:
    std::vector<std::string> Servers_;
};

// Lists and options of one test: the receive takes the lists once at its start and hands them to
// every worker's classifier.
struct TClassifyWorld
{
    classify::TListsState Lists{std::make_shared<classify::TAddressList>(),
                                std::make_shared<classify::TAddressList>()};
    std::shared_ptr<core::TOptionRec> Options = std::make_shared<core::TOptionRec>();

    TClassifyWorld()
    {
        Options->ResponseAction = 2; // unknown senders are good
        Options->DatabaseAction = 1;
    }

    TClassifierFactory Factory()
    {
        return [this](const accounts::TUserID& user, const std::vector<std::string>&,
                      const classify::TListsState& lists) {
            return std::make_unique<classify::TDispatchMail>(
                user, std::make_unique<TNoLookup>(),
                classify::TClassifySources{
                    [lists] { return lists; },
                    [this] { return std::shared_ptr<const core::TOptionRec>(Options); }});
        };
    }
};

class ReceiveTest : public ::testing::Test
{
protected:
    TTempHome Home;
    TClassifyWorld World;
    TReceiveRecorder Recorder;
    accounts::TUser User;

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

    TReceiveConfig Config()
    {
        TReceiveConfig config;
        config.CacheFolder = Home / "VedOzurCache";
        config.Zones = std::vector<std::string>{};
        config.MakeClassifier = World.Factory();
        config.Lists = [this] { return World.Lists; };
        config.ReplyTimeoutMs = 5000;
        return config;
    }

    std::vector<std::int32_t> Numbers() const
    {
        std::vector<std::int32_t> numbers;
        for (std::size_t i = 0; i < User.Mails.Count(); ++i)
            numbers.push_back(User.Mails.At(i)->Number);
        std::sort(numbers.begin(), numbers.end());
        return numbers;
    }
};

std::vector<std::int32_t> Range(std::int32_t from, std::int32_t to, std::int32_t except = 0)
{
    std::vector<std::int32_t> numbers;
    for (std::int32_t n = from; n <= to; ++n)
        if (n != except)
            numbers.push_back(n);
    return numbers;
}

struct TFaultCase
{
    std::string Name;
    int Messages;
    int Connections;
    TMaildropFaults Faults;
    bool Unreachable;
    TReceiveOutcome Outcome;
    std::vector<std::int32_t> Listed;
    std::vector<std::string> Errors;
    std::string LastTask; // the task row's last status, "" when it keeps "Executing ..."
};
void PrintTo(const TFaultCase& c, std::ostream* os)
{
    *os << c.Name;
}

class ReceiveFaultTest : public ReceiveTest, public ::testing::WithParamInterface<TFaultCase>
{};

TEST_P(ReceiveFaultTest, EndsAsTheServerAllows)
{
    const TFaultCase& c = GetParam();
    TFakeMaildrop server(TFakeMaildrop::Messages(c.Messages), c.Faults);
    Account(c.Unreachable ? test::ClosedLoopbackPort() : server.Port(), c.Connections);
    TDownloadMail receive(User, Recorder, Config());
    const TReceiveReport report = receive.Run();

    EXPECT_EQ(report.Outcome, c.Outcome);
    EXPECT_EQ(Recorder.Outcome, c.Outcome);
    EXPECT_EQ(Recorder.FinishedCalls, 1);
    EXPECT_EQ(Numbers(), c.Listed);
    EXPECT_EQ(User.SyncedCount, static_cast<std::int32_t>(c.Listed.size()));
    // Each expected error is the start of its row: the causes that follow name the server's port.
    std::vector<::testing::Matcher<std::string>> errors;
    for (const std::string& error : c.Errors)
        errors.push_back(::testing::StartsWith(error));
    EXPECT_THAT(Recorder.LinesStarting("error: "), ElementsAreArray(errors));
    const auto tasks = Recorder.LinesStarting("task: ");
    ASSERT_FALSE(tasks.empty());
    EXPECT_EQ(tasks.back(), c.LastTask.empty() ? "task: '127.0.0.1' | Executing ... | 0 server(s)"
                                               : "task: - | " + c.LastTask + " | ");
}

TMaildropFaults DropFive()
{
    TMaildropFaults faults;
    faults.DropOnTop = 5;
    faults.DropTimes = 1;
    return faults;
}
TMaildropFaults FailFive()
{
    TMaildropFaults faults;
    faults.FailTop = 5;
    return faults;
}
TMaildropFaults RefuseLogin()
{
    TMaildropFaults faults;
    faults.RefuseLogin = true;
    return faults;
}
TMaildropFaults OneSessionAtATime()
{
    TMaildropFaults faults;
    faults.MaxLoggedIn = 1;
    return faults;
}
TMaildropFaults LoginsApart(bool announced)
{
    TMaildropFaults faults;
    faults.LoginDelaySeconds = 60;
    faults.AnnounceLoginDelay = announced;
    return faults;
}
TMaildropFaults RefuseLoginWith(std::string reply)
{
    TMaildropFaults faults;
    faults.LoginRefusal = std::move(reply);
    return faults;
}
TMaildropFaults GoneAfter(int sessions)
{
    TMaildropFaults faults;
    faults.CloseAfterSessions = sessions;
    return faults;
}

// Every case runs against a server that offers PIPELINING and against one without CAPA.
std::vector<TFaultCase> WithoutCapa(std::vector<TFaultCase> cases)
{
    for (TFaultCase& c : cases)
        c.Faults.Capa = false;
    return cases;
}

const std::vector<TFaultCase> FaultCases = {
    // A server that allows one session per mailbox: the first worker gets it, the others end.
    TFaultCase{"SecondSessionRefusedInUse",
               10,
               4,
               OneSessionAtATime(),
               false,
               TReceiveOutcome::Finished,
               Range(1, 10),
               {},
               "Finished ..."},
    TFaultCase{"DroppedFetchHandedBackToAnotherWorker",
               10,
               2,
               DropFive(),
               false,
               TReceiveOutcome::Finished,
               Range(1, 10),
               {},
               "Finished ..."},
    TFaultCase{"DroppedFetchOfTheOnlyWorkerGetsAFreshSession",
               10,
               1,
               DropFive(),
               false,
               TReceiveOutcome::Finished,
               Range(1, 10),
               {},
               "Finished ..."},
    TFaultCase{"FetchFailingEveryTimeIsMissing",
               10,
               4,
               FailFive(),
               false,
               TReceiveOutcome::Disconnected,
               Range(1, 10, 5),
               {Missing, "error: Message 5 could not be retrieved: 127.0.0.1:"},
               "Disconnected ..."},
    // Logins a minute apart, announced in CAPA or not: one session does everything.
    TFaultCase{"LoginDelayAnnounced",
               10,
               4,
               LoginsApart(true),
               false,
               TReceiveOutcome::Finished,
               Range(1, 10),
               {},
               "Finished ..."},
    TFaultCase{"LoginDelayNotAnnounced",
               10,
               4,
               LoginsApart(false),
               false,
               TReceiveOutcome::Finished,
               Range(1, 10),
               {},
               "Finished ..."},
    // A refusal that is not about the password is not called a wrong password.
    TFaultCase{"LoginRefusedTemporarily",
               3,
               2,
               RefuseLoginWith("-ERR [SYS/TEMP] Internal error occurred"),
               false,
               TReceiveOutcome::Disconnected,
               {},
               {"error: The server 127.0.0.1:"},
               "Disconnected ..."},
    TFaultCase{"LoginRefusedInUse",
               3,
               2,
               RefuseLoginWith("-ERR [IN-USE] Unable to lock maildrop"),
               false,
               TReceiveOutcome::Disconnected,
               {},
               {"error: The mailbox on 127.0.0.1:"},
               "Disconnected ..."},
    TFaultCase{"LoginRefused",
               3,
               2,
               RefuseLogin(),
               false,
               TReceiveOutcome::Disconnected,
               {},
               {"error: Incorect user name or password, please try again !", "error: The server 127.0.0.1:"},
               "Disconnected ..."},
    TFaultCase{"Unreachable",
               3,
               2,
               {},
               true,
               TReceiveOutcome::FailedToConnect,
               {},
               {"error: Failed to connect to remote server!", "error: Cannot connect to 127.0.0.1:"},
               ""},
    // Counting session and two workers, then the server is gone.
    TFaultCase{"GoneBeforeTheEndCheck",
               4,
               2,
               GoneAfter(3),
               false,
               TReceiveOutcome::Disconnected,
               Range(1, 4),
               {Lost, "error: Cannot connect to 127.0.0.1:"},
               "Disconnected ..."}};

INSTANTIATE_TEST_SUITE_P(Pipelined, ReceiveFaultTest, ::testing::ValuesIn(FaultCases),
                         [](const auto& info) { return info.param.Name; });
INSTANTIATE_TEST_SUITE_P(WithoutCapa, ReceiveFaultTest, ::testing::ValuesIn(WithoutCapa(FaultCases)),
                         [](const auto& info) { return info.param.Name; });

// Pipelining changes only the waiting and where the sizes and unique ids come from: the counting
// session lists them all, and a pipelined worker asks only "UIDL n" (checked against that listing)
// and "TOP n 0" per message; one without pipelining reads its session's whole UIDL list first and
// asks NOOP, LIST n and TOP n 0. The list is the same.
TEST_F(ReceiveTest, PipeliningGivesTheSameList)
{
    std::map<bool, std::vector<std::string>> commands;
    std::map<bool, std::vector<std::string>> counting;
    std::map<bool, std::vector<std::string>> listing;
    std::map<bool, int> pipelined;
    for (const bool capa : {true, false}) {
        TMaildropFaults faults;
        faults.Capa = capa;
        TFakeMaildrop server(TFakeMaildrop::Messages(20), faults);
        Account(server.Port(), 1);
        TReceiveRecorder recorder;
        TDownloadMail receive(User, recorder, Config());
        ASSERT_EQ(receive.Run().Outcome, TReceiveOutcome::Finished);
        ASSERT_EQ(Numbers(), Range(1, 20));
        for (std::size_t i = 0; i < User.Mails.Count(); ++i)
            listing[capa].push_back(std::to_string(User.Mails.At(i)->Number) + " " +
                                    User.Mails.At(i)->Subject + " " + User.Mails.At(i)->UniqueId);
        const auto sessions = server.Commands();
        ASSERT_EQ(sessions.size(), 3u); // counting, worker, end check
        commands[capa] = sessions[1];
        counting[capa] = sessions[0];
        pipelined[capa] = server.Pipelined();
    }
    EXPECT_EQ(listing[true], listing[false]);
    EXPECT_THAT(listing[true], ::testing::Contains("7 Message 7 uid-7"));
    std::vector<std::string> pipelinedCommands = {"CAPA", "USER joe", "PASS", "CAPA"};
    std::vector<std::string> oneByOne = {"CAPA", "USER joe", "PASS", "CAPA", "UIDL"};
    for (int n = 1; n <= 20; ++n) {
        const std::string number = std::to_string(n);
        pipelinedCommands.insert(pipelinedCommands.end(), {"UIDL " + number, "TOP " + number + " 0"});
        oneByOne.insert(oneByOne.end(), {"NOOP", "LIST " + number, "TOP " + number + " 0"});
    }
    pipelinedCommands.push_back("QUIT");
    oneByOne.push_back("QUIT");
    EXPECT_THAT(counting[true], ::testing::IsSupersetOf({"STAT", "LIST", "UIDL"}));
    EXPECT_THAT(counting[false], ::testing::Not(::testing::Contains("LIST")));
    EXPECT_EQ(commands[true], pipelinedCommands);
    EXPECT_EQ(commands[false], oneByOne);
    EXPECT_GT(pipelined[true], 20);
    EXPECT_EQ(pipelined[false], 0);
}

TEST_F(ReceiveTest, ShowsEveryTextInOrder)
{
    // One command at a time, so that the taken count grows by one per message.
    TMaildropFaults faults;
    faults.Capa = false;
    TFakeMaildrop server(TFakeMaildrop::Messages(2), faults);
    Account(server.Port(), 1);
    TReceiveConfig config = Config();
    config.DownloadSpeed = 1;
    TDownloadMail receive(User, Recorder, std::move(config));
    ASSERT_EQ(receive.Run().Outcome, TReceiveOutcome::Finished);

    EXPECT_THAT(
        Recorder.Lines(),
        ElementsAre("task: '127.0.0.1' | Executing ... | 0 server(s)",
                    "caption: Receiving messages for 'Joe'", "statusbar: Download speed: Faster speed",
                    "overall: Checking for new messages on '127.0.0.1'", "status: Authorizing ...",
                    "status: Retrieving list of messages ...", "status: Connecting ...",
                    "status: Retrieving messages...", "status: 1 received message(s) of 2", "progress: 50",
                    "caption: 50% Receiving messages for 'Joe'", "status: 2 received message(s) of 2",
                    "progress: 100", "caption: 100% Receiving messages for 'Joe'",
                    "task: - | Finished ... | ", "finished"));
    EXPECT_THAT(Recorder.Rows, ElementsAre(0, 1));
}

TEST_F(ReceiveTest, EmptyMaildropHasCountingWorkerAndCheckSessions)
{
    TFakeMaildrop server({});
    Account(server.Port(), 8);
    TDownloadMail receive(User, Recorder, Config());
    const TReceiveReport report = receive.Run();
    EXPECT_EQ(report.Outcome, TReceiveOutcome::Finished);
    EXPECT_EQ(report.Workers, 1u);
    EXPECT_EQ(server.Logins(), 3);
    EXPECT_EQ(User.Mails.Count(), 0u);
}

TEST_F(ReceiveTest, StopBeforeTheWorkersStartCreatesNone)
{
    TFakeMaildrop server(TFakeMaildrop::Messages(5));
    Account(server.Port(), 4);
    TDownloadMail receive(User, Recorder, Config());
    Recorder.OnLine = [&](const std::string& line) {
        if (line == "status: Connecting ...")
            receive.Stop();
    };
    const TReceiveReport report = receive.Run();
    EXPECT_EQ(report.Outcome, TReceiveOutcome::Interrupted);
    EXPECT_EQ(report.Workers, 0u);
    EXPECT_EQ(server.Sessions(), 1);
    EXPECT_EQ(Recorder.LinesStarting("task: ").back(), "task: - | Interrupted ... | ");
}

TEST_F(ReceiveTest, StopDuringTheWorkersEndsInterrupted)
{
    TFakeMaildrop server(TFakeMaildrop::Messages(200));
    Account(server.Port(), 4);
    TDownloadMail receive(User, Recorder, Config());
    Recorder.OnLine = [&](const std::string& line) {
        if (line.starts_with("progress: "))
            receive.Stop();
    };
    const TReceiveReport report = receive.Run();
    EXPECT_EQ(report.Outcome, TReceiveOutcome::Interrupted);
    EXPECT_LT(User.Mails.Count(), 200u);
    EXPECT_TRUE(Recorder.LinesStarting("error: ").empty());
}

TEST_F(ReceiveTest, AppliesTheClassification)
{
    // Sender kinds: white-listed (good), black-listed (spam with DatabaseAction 1), unknown (trash
    // with ResponseAction 0), and an implausible sender (spam).
    auto white = std::make_shared<classify::TAddressList>();
    white->Rows.push_back({"friend@example.org", true, {}});
    auto black = std::make_shared<classify::TAddressList>();
    black->Rows.push_back({"spammer@example.org", true, {}});
    World.Lists = {black, white};
    World.Options->ResponseAction = 0;
    TFakeMaildrop server({TFakeMaildrop::Message(1, "friend@example.org"),
                          TFakeMaildrop::Message(2, "spammer@example.org"),
                          TFakeMaildrop::Message(3, "stranger@example.org"), TFakeMaildrop::Message(4, "@")});
    Account(server.Port(), 2);
    TDownloadMail receive(User, Recorder, Config());
    ASSERT_EQ(receive.Run().Outcome, TReceiveOutcome::Finished);

    std::map<std::int32_t, std::pair<std::string, bool>> byNumber;
    for (std::size_t i = 0; i < User.Mails.Count(); ++i)
        byNumber[User.Mails.At(i)->Number] = {User.Mails.At(i)->Subject, User.Mails.At(i)->Trashed};
    EXPECT_EQ(byNumber[1], std::make_pair(std::string("Message 1"), false));
    EXPECT_EQ(byNumber[2], std::make_pair(std::string(" [ Spam ] Message 2"), false));
    EXPECT_EQ(byNumber[3], std::make_pair(std::string("Message 3"), true));
    EXPECT_EQ(byNumber[4], std::make_pair(std::string(" [ Spam ] Message 4"), false));
    EXPECT_TRUE(User.TrashNotEmpty);
    EXPECT_EQ(Recorder.Rows.size(), 3u); // the trashed one gets no row
    for (std::size_t i = 0; i < User.Mails.Count(); ++i)
        EXPECT_EQ(User.Mails.At(i)->UniqueId, "uid-" + std::to_string(User.Mails.At(i)->Number));
    // Each record keeps why it got its class.
    std::map<std::int32_t, std::string> reasons;
    for (std::size_t i = 0; i < User.Mails.Count(); ++i)
        reasons[User.Mails.At(i)->Number] = User.Mails.At(i)->Reason;
    EXPECT_EQ(reasons, (std::map<std::int32_t, std::string>{
                           {1, "The sender friend@example.org is on the White list."},
                           {2, "The sender spammer@example.org is on the Black list."},
                           {3, "The sender stranger@example.org is in neither list: the option for unknown "
                               "senders moves it to the trash."},
                           {4, "The message gives no sender address."}, // "@" decodes to no address
                       }));
}

TEST_F(ReceiveTest, QuestionableSubjectsAreMarked)
{
    World.Options->ResponseAction = 1;
    TFakeMaildrop server(TFakeMaildrop::Messages(1));
    Account(server.Port(), 1);
    TDownloadMail receive(User, Recorder, Config());
    ASSERT_EQ(receive.Run().Outcome, TReceiveOutcome::Finished);
    ASSERT_EQ(User.Mails.Count(), 1u);
    EXPECT_EQ(User.Mails.At(0)->Subject, " [ Questionable ] Message 1");
}

TEST_F(ReceiveTest, PasswordPromptFillsAndRemembersThePassword)
{
    TFakeMaildrop server(TFakeMaildrop::Messages(1));
    Account(server.Port(), 1);
    User.MutableID().Password.clear();
    User.MutableID().RememberPassword = false;
    int saved = 0;
    TReceiveConfig config = Config();
    config.PasswordPrompt = [](const accounts::TUserID& id) -> std::optional<std::pair<std::string, bool>> {
        EXPECT_EQ(id.AccountName, "joe");
        return std::make_pair(std::string("secret"), true);
    };
    config.SaveAccount = [&] { ++saved; };
    TDownloadMail receive(User, Recorder, std::move(config));
    EXPECT_EQ(receive.Run().Outcome, TReceiveOutcome::Finished);
    EXPECT_EQ(saved, 1);
    EXPECT_TRUE(User.ID().RememberPassword);
    EXPECT_EQ(User.ID().Password, "secret");
}

TEST_F(ReceiveTest, CancelledPasswordPromptContactsNoServer)
{
    TFakeMaildrop server(TFakeMaildrop::Messages(1));
    Account(server.Port(), 1);
    User.MutableID().RememberPassword = false;
    TReceiveConfig config = Config();
    config.PasswordPrompt = [](const accounts::TUserID&) {
        return std::optional<std::pair<std::string, bool>>();
    };
    TDownloadMail receive(User, Recorder, std::move(config));
    EXPECT_EQ(receive.Run().Outcome, TReceiveOutcome::Cancelled);
    EXPECT_EQ(Recorder.Outcome, TReceiveOutcome::Cancelled);
    EXPECT_EQ(server.Sessions(), 0);
}

// Stop never waits for DNS: a worker waiting on a block list that never answers is stopped at once,
// and the message it was classifying is not listed with a verdict the lookup never gave.
TEST_F(ReceiveTest, StopEndsAReceiveWaitingForABlockListAtOnce)
{
    TSilentDnsServer dns;
    ::setenv("TARNWICK_DNS_SERVERS", dns.Server().c_str(), 1);
    std::vector<std::string> messages;
    for (int n = 1; n <= 4; ++n)
        messages.push_back("Received: from relay.example (relay.example [203.0.113." + std::to_string(n) +
                           "]) by mx.example; Mon, 1 Jan 2024 10:00:00 +0000\r\n" +
                           TFakeMaildrop::Message(n));
    TFakeMaildrop server(messages);
    Account(server.Port(), 1);
    TReceiveConfig config = Config();
    config.Zones = std::vector<std::string>{"bl.example"};
    config.MakeClassifier = [this](const accounts::TUserID& user, const std::vector<std::string>& zones,
                                   const classify::TListsState& lists) {
        return std::make_unique<classify::TDispatchMail>(
            user, std::make_unique<classify::TSearchAddress>(zones),
            classify::TClassifySources{
                [lists] { return lists; },
                [this] { return std::shared_ptr<const core::TOptionRec>(World.Options); }});
    };
    TDownloadMail receive(User, Recorder, config);
    ASSERT_TRUE(receive.Start());
    // The first message's lookup waits up to three seconds for the silent server.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const auto stopped = std::chrono::steady_clock::now();
    receive.Stop();
    const TReceiveReport report = receive.Wait();
    ::unsetenv("TARNWICK_DNS_SERVERS");
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(1));
    EXPECT_EQ(report.Outcome, TReceiveOutcome::Interrupted);
    EXPECT_EQ(User.Mails.Count(), 0u);
}

// A server that misbehaves, from the receive to the deletion. Whatever goes wrong, every record's
// number, header and unique id belong to one message, every message is listed or reported, and no
// DELE ever reaches a message that is not in the trash.
namespace faults {

using TKind = TReplyFault::TKind;

enum class TBetween
{
    Nothing,
    RemoveFirst,       // another program deleted message 1
    RemoveFirstAddOne, // ...and a new message arrived: the count is the same
};

enum class TDeletion
{
    Deleted, // every trashed message is gone, nothing else
    Refused, // the synchronisation message, nothing deleted
    Failed,  // an error, nothing deleted
};

struct TCase
{
    std::string Name;
    TMaildropFaults Faults;
    std::vector<std::int32_t> Missing = {}; // given up, and reported by number
    TDeletion Deletion = TDeletion::Deleted;
    TBetween Between = TBetween::Nothing;
    bool FullMessage = false;
};

TMaildropFaults Reply(std::string command, TKind kind, int times = -1, bool capa = true)
{
    TMaildropFaults faults;
    faults.Replies.push_back({std::move(command), kind, times});
    faults.Capa = capa;
    return faults;
}

// The same faults, with the counting session's listing of sizes refused: the workers then ask
// LIST n for every message.
TMaildropFaults WithoutListing(TMaildropFaults faults)
{
    faults.Replies.push_back({"LIST", TKind::Refuse, -1});
    return faults;
}

TMaildropFaults NoUidl()
{
    TMaildropFaults faults;
    faults.Uidl = false;
    return faults;
}

const std::vector<TCase> Cases = {
    {"Clean", {}},
    {"GarbledStatusLine", Reply("TOP 3 0", TKind::Garble, 1)},
    {"GarbledStatusLineWithoutPipelining", Reply("TOP 3 0", TKind::Garble, 1, false)},
    {"GarbledNoop", Reply("NOOP", TKind::Garble, 1)},
    {"ExtraEmptyLineAfterTop", Reply("TOP 3 0", TKind::ExtraLine)},
    {"ExtraEmptyLineWithoutPipelining", Reply("TOP 3 0", TKind::ExtraLine, -1, false)},
    {"WrongNumberInList", WithoutListing(Reply("LIST 5", TKind::OtherNumber)), {5}},
    // The counting session's listing names other messages than a worker's session finds under the
    // same numbers (as after another program's deletion): the workers drop it and ask LIST n.
    {"ListingOfAnotherNumbering",
     [] {
         TMaildropFaults faults = Reply("UIDL", TKind::OtherNumber, 1);
         faults.Replies.push_back({"LIST", TKind::OtherNumber, 1});
         return faults;
     }()},
    {"ListingRefused", Reply("LIST", TKind::Refuse)},
    {"WrongNumberInListWithoutPipelining", Reply("LIST 5", TKind::OtherNumber, -1, false), {5}},
    {"WrongNumberInUidl", Reply("UIDL 7", TKind::OtherNumber), {7}},
    {"CutMidTop", Reply("TOP 4 0", TKind::Cut, 1)},
    {"CutMidRetr", Reply("RETR 4", TKind::Cut, 1), {}, TDeletion::Deleted, TBetween::Nothing, true},
    {"AlwaysRefused", Reply("TOP 6 0", TKind::Refuse), {6}},
    {"AlwaysRefusedWithoutPipelining", Reply("TOP 6 0", TKind::Refuse, -1, false), {6}},
    {"UidlMissing", NoUidl()},
    {"GarbledDeleReply", Reply("DELE 4", TKind::Garble), {}, TDeletion::Failed},
    {"CutDuringDele", Reply("DELE 6", TKind::Cut), {}, TDeletion::Failed},
    {"RenumberedBeforeDeleting", {}, {}, TDeletion::Refused, TBetween::RemoveFirst},
    {"RenumberedWithTheSameCount", {}, {}, TDeletion::Refused, TBetween::RemoveFirstAddOne},
    {"RenumberedWithoutUidl", NoUidl(), {}, TDeletion::Refused, TBetween::RemoveFirstAddOne},
};

void PrintTo(const TCase& c, std::ostream* os)
{
    *os << c.Name;
}

constexpr int MessageCount = 12;

class FaultTableTest : public ReceiveTest, public ::testing::WithParamInterface<std::tuple<TCase, int>>
{
protected:
    std::string ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_P(FaultTableTest, NumbersHeadersAndIdsStayTogether)
{
    const auto& [c, connections] = GetParam();
    TFakeMaildrop server(TFakeMaildrop::Messages(MessageCount), c.Faults);
    Account(server.Port(), connections);
    User.Settings.FullMessage = c.FullMessage;
    TDownloadMail receive(User, Recorder, Config());
    const TReceiveReport report = receive.Run();

    // The receive: all but the missing ones, each record whole, and honest about the gaps.
    std::vector<std::int32_t> expected;
    for (std::int32_t n = 1; n <= MessageCount; ++n)
        if (std::find(c.Missing.begin(), c.Missing.end(), n) == c.Missing.end())
            expected.push_back(n);
    EXPECT_EQ(Numbers(), expected);
    for (std::size_t i = 0; i < User.Mails.Count(); ++i) {
        const accounts::TMailMessage& record = *User.Mails.At(i);
        const std::string n = std::to_string(record.Number);
        EXPECT_EQ(record.Subject, "Message " + n);
        EXPECT_EQ(record.Size, static_cast<std::int32_t>(TFakeMaildrop::Message(record.Number).size()));
        EXPECT_EQ(record.UniqueId, c.Faults.Uidl ? "uid-" + n : "");
        if (c.FullMessage) {
            EXPECT_EQ(ReadFile(Home / "VedOzurCache" + "/" + record.CacheName + ".eml"),
                      TFakeMaildrop::Message(record.Number));
        }
    }
    const auto errors = Recorder.LinesStarting("error: ");
    if (c.Missing.empty()) {
        EXPECT_EQ(report.Outcome, TReceiveOutcome::Finished) << ::testing::PrintToString(errors);
    } else {
        EXPECT_EQ(report.Outcome, TReceiveOutcome::Disconnected);
        EXPECT_THAT(errors, ::testing::Contains(Missing));
        for (const std::int32_t n : c.Missing)
            EXPECT_THAT(errors, ::testing::Contains(::testing::StartsWith(
                                    "error: Message " + std::to_string(n) + " could not be retrieved: ")));
    }

    // The deletion of the even-numbered messages.
    std::vector<std::size_t> even;
    std::set<std::string> trashedIds;
    for (std::size_t i = 0; i < User.Mails.Count(); ++i)
        if (User.Mails.At(i)->Number % 2 == 0) {
            even.push_back(i);
            trashedIds.insert("uid-" + std::to_string(User.Mails.At(i)->Number));
        }
    TrashMessages(User, even);
    if (c.Between != TBetween::Nothing)
        server.Remove(1);
    if (c.Between == TBetween::RemoveFirstAddOne)
        server.Append(TFakeMaildrop::Message(99));
    const std::size_t sessionsBefore = server.Commands().size();
    const std::size_t listed = User.Mails.Count();

    TScriptedPrompter prompter;
    TDeleteMail deletion(User, Home / "VedOzurCache", prompter);
    deletion.SetReplyTimeoutMs(5000);
    std::int32_t serverCount = report.ServerCount;
    std::optional<TEmptyTrashResult> result;
    std::string error;
    try {
        result = EmptyTrash(User, deletion, serverCount);
    } catch (const std::exception& e) {
        error = e.what();
    }

    const auto sessions = server.Commands();
    for (std::size_t s = sessionsBefore; s < sessions.size(); ++s)
        for (const std::string& command : sessions[s])
            if (command.starts_with("DELE ")) {
                const std::string uid = server.UniqueIdIn(s, std::stoi(command.substr(5)));
                EXPECT_TRUE(trashedIds.contains(uid)) << command << " reached " << uid;
            }
    const std::vector<std::string> deleted = server.Deleted();
    switch (c.Deletion) {
    case TDeletion::Deleted: {
        ASSERT_TRUE(result) << error;
        EXPECT_TRUE(result->Ran);
        EXPECT_EQ(std::set<std::string>(deleted.begin(), deleted.end()), trashedIds);
        EXPECT_EQ(User.Mails.Count(), listed - even.size());
        // The rest carries the numbers the server now gives them: each moves up by one for every
        // deleted message that stood before it.
        for (std::size_t i = 0; i < User.Mails.Count(); ++i) {
            const accounts::TMailMessage& record = *User.Mails.At(i);
            const std::int32_t was = std::stoi(record.Subject.substr(std::string("Message ").size()));
            std::int32_t before = 0;
            for (const std::string& uid : trashedIds)
                before += std::stoi(uid.substr(4)) < was ? 1 : 0;
            EXPECT_EQ(record.Number, was - before) << record.Subject;
        }
        break;
    }
    case TDeletion::Refused:
        ASSERT_TRUE(result) << error;
        EXPECT_FALSE(result->Ran);
        ASSERT_EQ(prompter.Log.size(), 1u);
        EXPECT_EQ(prompter.Log[0].Text, core::texts::NotSynchronized);
        EXPECT_TRUE(deleted.empty());
        EXPECT_EQ(User.Mails.Count(), listed);
        break;
    case TDeletion::Failed:
        EXPECT_FALSE(result);
        EXPECT_THAT(error, ::testing::HasSubstr("Nothing was deleted"));
        EXPECT_TRUE(deleted.empty());
        EXPECT_EQ(User.Mails.Count(), listed);
        EXPECT_TRUE(User.TrashNotEmpty);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTableTest,
                         ::testing::Combine(::testing::ValuesIn(Cases), ::testing::Values(1, 8)),
                         [](const auto& info) {
                             return std::get<0>(info.param).Name + "_" +
                                    std::to_string(std::get<1>(info.param)) + "Connections";
                         });

} // namespace faults

} // namespace

namespace sessions {

// --- servers that pace logins, lock the maildrop or hide mail from clients without UTF8 -------

class SingleSessionTest : public ReceiveTest, public ::testing::WithParamInterface<bool>
{};

// A server that wants logins a minute apart, whether it says so in CAPA or only by refusing the
// second login: the receive logs in once, says so, and with KeepSession the deletion of the trash
// goes through that same session.
TEST_P(SingleSessionTest, ALoginAMinuteApartServesTheWholeReceiveAndTheDeletion)
{
    const bool announced = GetParam();
    TMaildropFaults faults;
    faults.LoginDelaySeconds = 60;
    faults.AnnounceLoginDelay = announced;
    TFakeMaildrop server(TFakeMaildrop::Messages(20), faults);
    Account(server.Port(), 8);
    TReceiveConfig config = Config();
    config.KeepSession = true;
    TDownloadMail receive(User, Recorder, std::move(config));
    const TReceiveReport report = receive.Run();

    ASSERT_EQ(report.Outcome, TReceiveOutcome::Finished) << ::testing::PrintToString(Recorder.Lines());
    EXPECT_TRUE(report.SingleSession);
    EXPECT_EQ(Numbers(), Range(1, 20));
    EXPECT_TRUE(Recorder.LinesStarting("error: ").empty());
    const auto notes = Recorder.LinesStarting("note: ");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_THAT(notes[0], ::testing::HasSubstr(announced ? "allows one login every 60 seconds"
                                                         : "[LOGIN-DELAY] Logins must be at least 60"));
    EXPECT_EQ(server.Logins(), 1);

    std::vector<std::size_t> trashed;
    for (std::size_t i = 0; i < User.Mails.Count(); ++i)
        if (User.Mails.At(i)->Number > 15)
            trashed.push_back(i);
    TrashMessages(User, trashed);
    std::unique_ptr<retrieval::TPOP3Client> session = receive.TakeSession();
    ASSERT_TRUE(session && session->IsOpen());
    TScriptedPrompter prompter;
    TDeleteMail deletion(User, std::move(session), prompter);
    std::int32_t serverCount = report.ServerCount;
    const TEmptyTrashResult result = EmptyTrash(User, deletion, serverCount);
    EXPECT_TRUE(result.Ran);
    EXPECT_EQ(result.Deleted, 5u);
    EXPECT_THAT(server.Deleted(), ElementsAre("uid-16", "uid-17", "uid-18", "uid-19", "uid-20"));
    EXPECT_EQ(server.Logins(), 1);
    EXPECT_TRUE(prompter.Log.empty());
}

INSTANTIATE_TEST_SUITE_P(LoginDelay, SingleSessionTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Announced" : "NotAnnounced"; });

// A maildrop that one session locks: the counting session keeps it and goes on alone, instead of
// the workers racing for the lock.
TEST_F(ReceiveTest, ALockedMaildropIsReadInTheCountingSession)
{
    TMaildropFaults faults;
    faults.MaxLoggedIn = 1;
    TFakeMaildrop server(TFakeMaildrop::Messages(12), faults);
    Account(server.Port(), 4);
    TDownloadMail receive(User, Recorder, Config());
    const TReceiveReport report = receive.Run();
    EXPECT_EQ(report.Outcome, TReceiveOutcome::Finished);
    EXPECT_TRUE(report.SingleSession);
    EXPECT_EQ(Numbers(), Range(1, 12));
    EXPECT_THAT(Recorder.LinesStarting("note: "),
                ElementsAre(::testing::HasSubstr("[IN-USE] Mailbox is locked by another POP3 session")));
}

// A second receive (or a deletion) right after the first waits for the server's delay instead of
// being refused, whether this program remembers its last login (the same account) or not (a new
// start: the refusal tells, and CAPA gave the delay); the wait counts down in the status line.
TEST_F(ReceiveTest, ALoginTooSoonWaitsForTheServersDelay)
{
    TMaildropFaults faults;
    faults.LoginDelaySeconds = 1;
    TFakeMaildrop server(TFakeMaildrop::Messages(3), faults);
    Account(server.Port(), 2);
    ASSERT_EQ(TDownloadMail(User, Recorder, Config()).Run().Outcome, TReceiveOutcome::Finished);

    for (const bool sameAccount : {true, false}) {
        SCOPED_TRACE(sameAccount ? "same account" : "fresh start");
        accounts::TUser fresh;
        fresh.SetID(User.ID());
        fresh.Settings = User.Settings;
        accounts::TUser& user = sameAccount ? User : fresh;
        TReceiveRecorder recorder;
        const auto started = std::chrono::steady_clock::now();
        const TReceiveReport report = TDownloadMail(user, recorder, Config()).Run();
        EXPECT_EQ(report.Outcome, TReceiveOutcome::Finished) << ::testing::PrintToString(recorder.Lines());
        EXPECT_EQ(user.Mails.Count(), 3u);
        EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
        EXPECT_THAT(recorder.LinesStarting("status: Waiting"),
                    ::testing::Contains("status: Waiting 1 s for the login delay of 1 s ..."));
        EXPECT_TRUE(recorder.LinesStarting("error: ").empty());
    }

    // The deletion waits in the same way.
    TrashMessages(User, {0});
    TScriptedPrompter prompter;
    TDeleteMail deletion(User, Home / "VedOzurCache", prompter);
    std::int32_t serverCount = 3;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(EmptyTrash(User, deletion, serverCount).Ran);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
    EXPECT_EQ(server.Deleted().size(), 1u);
}

// Stop ends a wait for the server's delay at once, in a receive and in a deletion, and nothing is
// deleted.
TEST_F(ReceiveTest, StopEndsAWaitForTheServersDelay)
{
    TMaildropFaults faults;
    faults.LoginDelaySeconds = 60;
    TFakeMaildrop server(TFakeMaildrop::Messages(3), faults);
    Account(server.Port(), 2);
    ASSERT_EQ(TDownloadMail(User, Recorder, Config()).Run().Outcome, TReceiveOutcome::Finished);

    TReceiveRecorder recorder;
    TDownloadMail second(User, recorder, Config());
    recorder.OnLine = [&](const std::string& line) {
        if (line.starts_with("status: Waiting"))
            second.Stop();
    };
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(second.Run().Outcome, TReceiveOutcome::Interrupted);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));

    TrashMessages(User, {0});
    TScriptedPrompter prompter;
    TDeleteMail deletion(User, Home / "VedOzurCache", prompter);
    std::int32_t serverCount = 3;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        deletion.Stop();
    });
    EXPECT_FALSE(deletion.Delete(TrashedIndices(User), serverCount));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_TRUE(server.Deleted().empty());
    EXPECT_EQ(server.Logins(), 1);
}

// A deletion refused with [LOGIN-DELAY] by a server that never said how long to wait fails with
// the server's words, and nothing is deleted.
TEST_F(ReceiveTest, ADeletionRefusedForTheLoginDelaySaysWhy)
{
    TMaildropFaults faults;
    faults.LoginDelaySeconds = 60;
    faults.AnnounceLoginDelay = false;
    TFakeMaildrop server(TFakeMaildrop::Messages(3), faults);
    Account(server.Port(), 1);
    ASSERT_EQ(TDownloadMail(User, Recorder, Config()).Run().Outcome, TReceiveOutcome::Finished);
    TrashMessages(User, {0});
    TScriptedPrompter prompter;
    TDeleteMail deletion(User, Home / "VedOzurCache", prompter);
    std::int32_t serverCount = 3;
    try {
        EmptyTrash(User, deletion, serverCount);
        FAIL() << "the deletion did not fail";
    } catch (const TDeleteError& e) {
        EXPECT_THAT(e.what(), ::testing::HasSubstr("127.0.0.1:"));
        EXPECT_THAT(e.what(), ::testing::HasSubstr("[LOGIN-DELAY] Logins must be at least 60 seconds apart"));
        EXPECT_THAT(e.what(), ::testing::HasSubstr("Nothing was deleted"));
    }
    EXPECT_TRUE(server.Deleted().empty());
    EXPECT_TRUE(User.TrashNotEmpty);
}

// A server that hides messages with raw UTF-8 headers from clients without UTF8: the receive asks
// for UTF8, so every message shows its real sender and subject, the black-listed sender's three
// messages are all caught, and all three are deleted.
TEST_F(ReceiveTest, AsksForUtf8SoThatNoMessageIsHidden)
{
    auto black = std::make_shared<classify::TAddressList>();
    black->Rows.push_back({"spammer@example.org", true, {}});
    World.Lists = {black, std::make_shared<classify::TAddressList>()};
    World.Options->DatabaseAction = 0; // black-listed senders go to the trash
    auto raw = [](int n, const std::string& from, const std::string& subject) {
        return "From: " + from + "\r\nSubject: " + subject + "\r\nMessage-ID: <" + std::to_string(n) +
               ".raw@example.org>\r\n\r\nBody\r\n";
    };
    TMaildropFaults faults;
    faults.Utf8 = true;
    TFakeMaildrop server({raw(1, "spammer@example.org", "Скидки до 90 рублей"), TFakeMaildrop::Message(2),
                          raw(3, "Jürgen <spammer@example.org>", "Grüße"),
                          raw(4, "friend@example.org", "Café"),
                          raw(5, "spammer@example.org", "Plain subject, but the sender is Ünal")},
                         faults);
    // The fifth message's raw byte is in its From line; its subject is plain.
    Account(server.Port(), 2);
    TDownloadMail receive(User, Recorder, Config());
    const TReceiveReport report = receive.Run();
    ASSERT_EQ(report.Outcome, TReceiveOutcome::Finished);

    std::map<std::int32_t, const accounts::TMailMessage*> byNumber;
    for (std::size_t i = 0; i < User.Mails.Count(); ++i)
        byNumber[User.Mails.At(i)->Number] = User.Mails.At(i);
    ASSERT_EQ(byNumber.size(), 5u);
    EXPECT_EQ(byNumber[1]->Subject, "Скидки до 90 рублей");
    EXPECT_EQ(byNumber[3]->FromName, "Jürgen");
    EXPECT_EQ(byNumber[4]->Subject, "Café");
    for (const auto& [n, record] : byNumber) {
        EXPECT_NE(record->FromAddress, "postmaster") << n;
        EXPECT_EQ(record->Trashed, n == 1 || n == 3 || n == 5) << n;
    }

    TScriptedPrompter prompter;
    TDeleteMail deletion(User, Home / "VedOzurCache", prompter);
    std::int32_t serverCount = report.ServerCount;
    const TEmptyTrashResult result = EmptyTrash(User, deletion, serverCount);
    EXPECT_TRUE(result.Ran);
    EXPECT_THAT(server.Deleted(), ElementsAre("uid-1", "uid-3", "uid-5"));
}

} // namespace sessions
