// The receive and the deletion against a real Dovecot: every speed level over empty, small and
// large maildrops (Dovecot offers PIPELINING, so the pipelined exchange runs here), and the
// deletion with the changes another mail program can make to the maildrop in between.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/MessageTexts.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "engine/TDeleteMail.h"
#include "engine/TDownloadMail.h"
#include "engine/TFetchMessage.h"
#include "engine/TTrash.h"
#include "retrieval/TPOP3Client.h"
#include "support/TDovecot.h"
#include "support/TFakeMaildrop.h"
#include "support/TReceiveRecorder.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick;
using namespace tarnwick::engine;
using namespace tarnwick::test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

std::string LowerName(std::string name)
{
    std::replace(name.begin(), name.end(), '/', '-');
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

class EngineDovecotTest : public ::testing::Test
{
protected:
    TDovecot Server{std::getenv("TARNWICK_DOVECOT_STATE") ? std::getenv("TARNWICK_DOVECOT_STATE")
                                                          : TARNWICK_DOVECOT_STATE};
    TTempHome Home;
    std::string Password = "pw-" + std::to_string(::getpid());
    std::string UserName;
    accounts::TUser User;
    TReceiveRecorder Recorder;

    // The program's options (the defaults: unknown senders are questionable), lists and folders.
    void SetUp() override
    {
        std::vector<std::string> notices;
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), notices);
        core::LoadOptionsAtStart();
    }
    void TearDown() override { core::FinalizeModules(); }

    void CreateMaildrop(const std::vector<std::string>& messages, int connections)
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        UserName = LowerName(std::string(test->test_suite_name()) + "." + test->name());
        Server.CreateUser(UserName, Password, messages);
        accounts::TUserID id;
        id.AccountName = UserName;
        id.Password = Password;
        id.RememberPassword = true;
        id.DisplayName = "Dovecot user";
        id.Host = "127.0.0.1";
        id.Port = Server.Pop3Port();
        User.SetID(id);
        User.Settings.Connections = connections;
    }

    TReceiveConfig Config()
    {
        TReceiveConfig config;
        config.CacheFolder = Home / "VedOzurCache";
        return config;
    }

    TReceiveReport Receive()
    {
        TReceiveRecorder recorder;
        TDownloadMail receive(User, recorder, Config());
        return receive.Run();
    }

    std::vector<std::string> SubjectsByNumber() const
    {
        std::map<std::int32_t, std::string> byNumber;
        for (std::size_t i = 0; i < User.Mails.Count(); ++i)
            byNumber[User.Mails.At(i)->Number] = User.Mails.At(i)->Subject;
        std::vector<std::string> subjects;
        for (std::int32_t n = 1; n <= static_cast<std::int32_t>(byNumber.size()); ++n)
            subjects.push_back(byNumber.count(n) ? byNumber[n] : "(none)");
        return subjects;
    }

    std::vector<std::size_t> IndicesOf(const std::vector<std::int32_t>& numbers) const
    {
        std::vector<std::size_t> indices;
        for (std::size_t i = 0; i < User.Mails.Count(); ++i)
            if (std::find(numbers.begin(), numbers.end(), User.Mails.At(i)->Number) != numbers.end())
                indices.push_back(i);
        return indices;
    }
};

struct TLevelCase
{
    int Messages;
    int Connections;
};

class ReceiveLevelTest : public EngineDovecotTest, public ::testing::WithParamInterface<TLevelCase>
{};

TEST_P(ReceiveLevelTest, ListsEveryMessageOnce)
{
    const TLevelCase c = GetParam();
    CreateMaildrop(TFakeMaildrop::Messages(c.Messages), c.Connections);
    TDownloadMail receive(User, Recorder, Config());
    const TReceiveReport report = receive.Run();

    EXPECT_EQ(report.Outcome, TReceiveOutcome::Finished);
    EXPECT_TRUE(Recorder.LinesStarting("error: ").empty());
    const std::size_t workers = static_cast<std::size_t>(std::max(1, std::min(c.Connections, c.Messages)));
    EXPECT_EQ(report.Workers, workers);
    // Counting session, one per worker, end check.
    EXPECT_EQ(report.Sessions, static_cast<std::int32_t>(workers) + 2);
    ASSERT_EQ(User.Mails.Count(), static_cast<std::size_t>(c.Messages));
    std::vector<bool> seen(static_cast<std::size_t>(c.Messages) + 1, false);
    for (std::size_t i = 0; i < User.Mails.Count(); ++i) {
        const accounts::TMailMessage& record = *User.Mails.At(i);
        ASSERT_GE(record.Number, 1);
        ASSERT_LE(record.Number, c.Messages);
        EXPECT_FALSE(seen[static_cast<std::size_t>(record.Number)]) << record.Number;
        seen[static_cast<std::size_t>(record.Number)] = true;
        EXPECT_EQ(record.Subject, " [ Questionable ] Message " + std::to_string(record.Number));
        EXPECT_FALSE(record.UniqueId.empty());
    }
    EXPECT_EQ(Recorder.LinesStarting("task: ").back(), "task: - | Finished ... | ");
    EXPECT_EQ(User.SyncedCount, c.Messages);
}

INSTANTIATE_TEST_SUITE_P(Levels, ReceiveLevelTest,
                         ::testing::Values(TLevelCase{0, 1}, TLevelCase{0, 8}, TLevelCase{3, 1},
                                           TLevelCase{3, 2}, TLevelCase{3, 4}, TLevelCase{3, 6},
                                           TLevelCase{3, 8}, TLevelCase{1000, 1}, TLevelCase{1000, 2},
                                           TLevelCase{1000, 4}, TLevelCase{1000, 6}, TLevelCase{1000, 8}),
                         [](const auto& info) {
                             return std::to_string(info.param.Messages) + "Messages" +
                                    std::to_string(info.param.Connections) + "Connections";
                         });

TEST_F(EngineDovecotTest, EmptyingTrashOfTwoAndFourLeavesOneTwoThree)
{
    CreateMaildrop(TFakeMaildrop::Messages(5), 4);
    ASSERT_EQ(Receive().Outcome, TReceiveOutcome::Finished);
    std::int32_t serverCount = 5;
    TrashMessages(User, IndicesOf({2, 4}));

    TScriptedPrompter prompter;
    TDeleteMail deletion(User, Home / "VedOzurCache", prompter);
    const TEmptyTrashResult result = EmptyTrash(User, deletion, serverCount);
    EXPECT_TRUE(result.Ran);
    EXPECT_EQ(result.Deleted, 2u);
    EXPECT_TRUE(prompter.Log.empty());
    EXPECT_EQ(serverCount, 3);
    EXPECT_FALSE(User.TrashNotEmpty);
    std::vector<std::string> local;
    for (std::size_t i = 0; i < User.Mails.Count(); ++i)
        local.push_back(std::to_string(User.Mails.At(i)->Number) + ":" + User.Mails.At(i)->Subject);
    const std::vector<std::string> expected{"1: [ Questionable ] Message 1", "2: [ Questionable ] Message 3",
                                            "3: [ Questionable ] Message 5"};
    EXPECT_THAT(local, ElementsAreArray(expected));

    // The server agrees: a new receive lists the same three under the same numbers.
    ASSERT_EQ(Receive().Outcome, TReceiveOutcome::Finished);
    EXPECT_THAT(SubjectsByNumber(), ElementsAre(" [ Questionable ] Message 1", " [ Questionable ] Message 3",
                                                " [ Questionable ] Message 5"));
    // A second emptying finds the trash empty and does nothing.
    EXPECT_FALSE(EmptyTrash(User, deletion, serverCount).Ran);
}

// What another mail program does to the maildrop between the receive and the deletion.
struct TChangeCase
{
    std::string Name;
    std::vector<std::int32_t> DeletedByOther;
    bool NewMessageArrives;
    bool NewMessageCopiesTheLast; // the new message has the very header of the old last one
};
void PrintTo(const TChangeCase& c, std::ostream* os)
{
    *os << c.Name;
}

class ChangedMaildropTest : public EngineDovecotTest, public ::testing::WithParamInterface<TChangeCase>
{};

TEST_P(ChangedMaildropTest, DeletionRefusesAndDeletesNothing)
{
    const TChangeCase& c = GetParam();
    const std::vector<std::string> messages = TFakeMaildrop::Messages(5);
    CreateMaildrop(messages, 2);
    ASSERT_EQ(Receive().Outcome, TReceiveOutcome::Finished);
    std::int32_t serverCount = 5;
    TrashMessages(User, IndicesOf({2, 3}));

    if (!c.DeletedByOther.empty()) {
        retrieval::TPOP3Client other(User.ID(), User.Settings, Home / "other");
        other.Open();
        for (const std::int32_t n : c.DeletedByOther)
            other.Delete(n);
        ASSERT_TRUE(other.Close());
    }
    if (c.NewMessageArrives)
        Server.DeliverMessage(UserName,
                              c.NewMessageCopiesTheLast ? messages.back() : TFakeMaildrop::Message(6));
    const std::vector<std::string> before = Server.MaildropFiles(UserName);

    TScriptedPrompter prompter;
    TDeleteMail deletion(User, Home / "VedOzurCache", prompter);
    const std::size_t listed = User.Mails.Count();
    EXPECT_FALSE(EmptyTrash(User, deletion, serverCount).Ran);
    ASSERT_EQ(prompter.Log.size(), 1u);
    EXPECT_EQ(prompter.Log[0].Text, std::string(core::texts::NotSynchronized));
    EXPECT_EQ(Server.MaildropFiles(UserName).size(), before.size());
    EXPECT_EQ(User.Mails.Count(), listed);
    EXPECT_TRUE(User.TrashNotEmpty);
    EXPECT_EQ(serverCount, 5);
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangedMaildropTest,
                         ::testing::Values(TChangeCase{"OtherClientDeletedOne", {1}, false, false},
                                           TChangeCase{"NewMessageArrived", {}, true, false},
                                           TChangeCase{"LastDeletedAndNewOneArrived", {5}, true, false},
                                           // Count and last header as before; only the unique ids
                                           // show that numbers 2 to 4 now mean other messages.
                                           TChangeCase{"RenumberedWithIdenticalLastHeader", {2}, true, true}),
                         [](const auto& info) { return info.param.Name; });

// On a fresh install the default cache folder and the folders above it do not exist yet: a receive
// of whole messages makes them, readable by the user only, and stores every message there.
TEST_F(EngineDovecotTest, WholeMessagesLandInTheDefaultCacheFolderOfAFreshHome)
{
    core::TEnvironment fresh;
    fresh.Home = Home / "fresh-home";
    const std::string cacheFolder = core::CacheFolder(fresh.DefaultCacheDir());
    ASSERT_EQ(cacheFolder, Home / "fresh-home/.cache/Orvalent/Tarnwick/VedOzurCache");
    ASSERT_FALSE(std::filesystem::exists(Home / "fresh-home"));

    const std::vector<std::string> messages = TFakeMaildrop::Messages(3);
    CreateMaildrop(messages, 2);
    User.Settings.FullMessage = true;
    TReceiveConfig config = Config();
    config.CacheFolder = cacheFolder;
    TReceiveRecorder recorder;
    TDownloadMail receive(User, recorder, config);
    EXPECT_EQ(receive.Run().Outcome, TReceiveOutcome::Finished);
    EXPECT_TRUE(recorder.LinesStarting("error: ").empty());
    ASSERT_EQ(User.Mails.Count(), 3u);
    for (std::size_t i = 0; i < User.Mails.Count(); ++i) {
        const accounts::TMailMessage& record = *User.Mails.At(i);
        EXPECT_TRUE(std::filesystem::is_regular_file(cacheFolder + "/" + record.CacheName + ".eml"))
            << record.CacheName;
    }
    for (const std::string& folder : {Home / "fresh-home/.cache", cacheFolder})
        EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_all)
            << folder;
}

// Opening a message listed by a headers-only receive downloads it on demand: the cache file is the
// maildrop's file byte for byte. Once another program deleted message 1, the record of message 2
// names the old message 3 and the record of message 3 names none: both are refused, nothing stored.
TEST_F(EngineDovecotTest, OnDemandDownloadStoresTheListedMessageOnly)
{
    CreateMaildrop(TFakeMaildrop::Messages(3), 1);
    ASSERT_EQ(Receive().Outcome, TReceiveOutcome::Finished);
    std::map<std::int32_t, accounts::TMailMessage> byNumber;
    for (std::size_t i = 0; i < User.Mails.Count(); ++i)
        byNumber[User.Mails.At(i)->Number] = *User.Mails.At(i);
    ASSERT_EQ(byNumber.size(), 3u);
    for (const auto& [n, record] : byNumber) {
        EXPECT_FALSE(record.Fetched);
        EXPECT_EQ(record.Reason, "The sender someone@example.org is in neither list: the option for unknown "
                                 "senders marks it questionable.");
    }
    const std::string cache = Home / "VedOzurCache";
    const std::vector<std::string> files = Server.MaildropFiles(UserName);
    ASSERT_EQ(files.size(), 3u);

    const TFetchOutcome fetched =
        TFetchMessage(User.ID(), User.Settings, cache, User.LoginPacing).Run(byNumber[2]);
    ASSERT_EQ(fetched.Status, TFetchStatus::Fetched) << fetched.Error;
    EXPECT_EQ(fetched.CachePath, cache + "/" + byNumber[2].CacheName + ".eml");
    EXPECT_EQ(ReadFileBytes(fetched.CachePath), ReadFileBytes(files[1]));

    retrieval::TPOP3Client other(User.ID(), User.Settings, Home / "other");
    other.Open();
    other.Delete(1);
    ASSERT_TRUE(other.Close());
    for (const std::int32_t n : {2, 3}) {
        SCOPED_TRACE("message " + std::to_string(n));
        std::filesystem::remove(cache + "/" + byNumber[n].CacheName + ".eml");
        const TFetchOutcome stale =
            TFetchMessage(User.ID(), User.Settings, cache, User.LoginPacing).Run(byNumber[n]);
        EXPECT_EQ(stale.Status, TFetchStatus::OutOfSync) << stale.Error;
        EXPECT_TRUE(stale.CachePath.empty());
        EXPECT_FALSE(std::filesystem::exists(cache + "/" + byNumber[n].CacheName + ".eml"));
    }
    EXPECT_EQ(Server.MaildropFiles(UserName).size(), 2u);
}

} // namespace
