// The receive and the deletion against a real Cyrus pop3d that allows one login a minute per user
// (popminpoll), as Debian's configuration has it: Cyrus says "LOGIN-DELAY 60" in CAPA and refuses a
// second login within the minute with "-ERR [LOGIN-DELAY]". The receive must then do all its work,
// and the deletion after it, in the one session it has.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/Modules.h"
#include "engine/TDeleteMail.h"
#include "engine/TDownloadMail.h"
#include "engine/TTrash.h"
#include "support/TCyrus.h"
#include "support/TFakeMaildrop.h"
#include "support/TReceiveRecorder.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick;
using namespace tarnwick::engine;
using namespace tarnwick::test;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

// "Subject: Message n" of a message as Cyrus keeps it, or "" when it has none.
std::string SubjectOf(const std::string& message)
{
    const std::size_t at = message.find("\r\nSubject: ");
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + 11;
    return message.substr(start, message.find("\r\n", start) - start);
}

class EngineCyrusTest : public ::testing::Test
{
protected:
    TCyrus Server{std::getenv("TARNWICK_CYRUS_STATE") ? std::getenv("TARNWICK_CYRUS_STATE")
                                                      : TARNWICK_CYRUS_STATE};
    TTempHome Home;
    std::string UserName;
    accounts::TUser User;
    TReceiveRecorder Recorder;

    void SetUp() override
    {
        std::vector<std::string> notices;
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), notices);
        core::LoadOptionsAtStart();
    }
    void TearDown() override { core::FinalizeModules(); }

    // A user no one has logged in as yet: Cyrus remembers logins for a minute, also across runs.
    void CreateMaildrop(int messages, int connections)
    {
        static int made = 0;
        UserName = "tarnwick-" + std::to_string(::getpid()) + "-" + std::to_string(++made);
        Server.CreateUser(UserName, TFakeMaildrop::Messages(messages));
        accounts::TUserID id;
        id.AccountName = UserName;
        id.Password = "any";
        id.RememberPassword = true;
        id.DisplayName = "Cyrus user";
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

    std::vector<std::size_t> IndicesOf(const std::vector<std::int32_t>& numbers) const
    {
        std::vector<std::size_t> indices;
        for (std::size_t i = 0; i < User.Mails.Count(); ++i)
            if (std::find(numbers.begin(), numbers.end(), User.Mails.At(i)->Number) != numbers.end())
                indices.push_back(i);
        return indices;
    }

    std::vector<std::string> SubjectsInInbox() const
    {
        std::vector<std::string> subjects;
        for (const std::string& message : Server.MailboxMessages(UserName))
            subjects.push_back(SubjectOf(message));
        return subjects;
    }
};

// Eight connections asked for, one login allowed: the receive lists all 30 in the counting session,
// says why, and keeps the session open, so that the trash is emptied without a second login. The
// messages are then gone from the INBOX, and only they.
TEST_F(EngineCyrusTest, OneLoginServesTheWholeReceiveAndTheDeletion)
{
    CreateMaildrop(30, 8);
    TReceiveConfig config = Config();
    config.KeepSession = true;
    TDownloadMail receive(User, Recorder, std::move(config));
    const TReceiveReport report = receive.Run();

    ASSERT_EQ(report.Outcome, TReceiveOutcome::Finished) << ::testing::PrintToString(Recorder.Lines());
    EXPECT_TRUE(report.SingleSession);
    EXPECT_EQ(report.Sessions, 1);
    EXPECT_EQ(report.ServerCount, 30);
    EXPECT_TRUE(Recorder.LinesStarting("error: ").empty()) << ::testing::PrintToString(Recorder.Lines());
    EXPECT_THAT(Recorder.LinesStarting("note: "),
                ElementsAreArray({HasSubstr("allows one login every 60 seconds")}));
    std::vector<std::int32_t> numbers;
    for (std::size_t i = 0; i < User.Mails.Count(); ++i) {
        numbers.push_back(User.Mails.At(i)->Number);
        EXPECT_EQ(User.Mails.At(i)->Subject,
                  " [ Questionable ] Message " + std::to_string(User.Mails.At(i)->Number));
    }
    std::sort(numbers.begin(), numbers.end());
    std::vector<std::int32_t> all(30);
    for (std::int32_t n = 1; n <= 30; ++n)
        all[static_cast<std::size_t>(n - 1)] = n;
    EXPECT_EQ(numbers, all);
    EXPECT_EQ(Server.Logins(UserName), 1) << Server.Transcript(UserName);

    // The first, one in the middle and the last: the numbers the deletion must get right.
    TrashMessages(User, IndicesOf({1, 17, 30}));
    std::unique_ptr<retrieval::TPOP3Client> session = receive.TakeSession();
    ASSERT_TRUE(session && session->IsOpen());
    TScriptedPrompter prompter;
    TDeleteMail deletion(User, std::move(session), prompter);
    std::int32_t serverCount = report.ServerCount;
    const TEmptyTrashResult result = EmptyTrash(User, deletion, serverCount);
    EXPECT_TRUE(result.Ran);
    EXPECT_EQ(result.Deleted, 3u);
    EXPECT_EQ(serverCount, 27);
    EXPECT_TRUE(prompter.Log.empty());
    EXPECT_EQ(Server.Logins(UserName), 1) << Server.Transcript(UserName);

    std::vector<std::string> expected;
    for (std::int32_t n = 1; n <= 30; ++n)
        if (n != 1 && n != 17 && n != 30)
            expected.push_back("Message " + std::to_string(n));
    EXPECT_THAT(SubjectsInInbox(), ElementsAreArray(expected));
}

// A receive right after another must wait for Cyrus's minute, whether this program remembers the
// last login (the same account) or learns of the delay only from the refusal (a new start, with a
// fresh account). It shows that it waits and ends at once on Stop, without a login; a deletion in a
// new session waits in the same way, and a Stop there deletes nothing.
TEST_F(EngineCyrusTest, LoginsWithinTheMinuteWaitAndStop)
{
    CreateMaildrop(5, 2);
    ASSERT_EQ(TDownloadMail(User, Recorder, Config()).Run().Outcome, TReceiveOutcome::Finished)
        << ::testing::PrintToString(Recorder.Lines());
    ASSERT_EQ(Server.Logins(UserName), 1) << Server.Transcript(UserName);

    for (const bool sameAccount : {true, false}) {
        SCOPED_TRACE(sameAccount ? "same account" : "fresh start");
        accounts::TUser fresh;
        fresh.SetID(User.ID());
        fresh.Settings = User.Settings;
        accounts::TUser& user = sameAccount ? User : fresh;
        TReceiveRecorder recorder;
        TDownloadMail second(user, recorder, Config());
        recorder.OnLine = [&](const std::string& line) {
            if (line.starts_with("status: Waiting"))
                second.Stop();
        };
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(second.Run().Outcome, TReceiveOutcome::Interrupted)
            << ::testing::PrintToString(recorder.Lines());
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        const auto waits = recorder.LinesStarting("status: Waiting");
        ASSERT_FALSE(waits.empty()) << ::testing::PrintToString(recorder.Lines());
        EXPECT_THAT(waits[0], HasSubstr(" s for the login delay of 60 s ..."));
        // A fresh start knows no earlier login of its own: it waits the whole minute.
        if (!sameAccount) {
            EXPECT_EQ(waits[0], "status: Waiting 60 s for the login delay of 60 s ...");
        }
    }

    TrashMessages(User, IndicesOf({2}));
    TScriptedPrompter prompter;
    TDeleteMail deletion(User, Home / "VedOzurCache", prompter);
    std::int32_t serverCount = 5;
    const auto started = std::chrono::steady_clock::now();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        deletion.Stop();
    });
    EXPECT_FALSE(deletion.Delete(TrashedIndices(User), serverCount));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(serverCount, 5);
    EXPECT_EQ(Server.Logins(UserName), 1) << Server.Transcript(UserName);
    EXPECT_EQ(SubjectsInInbox().size(), 5u);
}

} // namespace
