// Downloading one listed message on demand against a POP3 server that misbehaves on purpose: the
// identity checks before anything is stored, refused logins, a broken RETR, a cache that cannot be
// written, and Stop.
#include "engine/TFetchMessage.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TFakeMaildrop.h"
#include "support/TFakePop3Server.h"
#include "support/TLineSocket.h"
#include "support/TTempHome.h"

using namespace tarnwick;
using namespace tarnwick::engine;
using namespace tarnwick::test;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr int MessageCount = 5;
constexpr std::int32_t Wanted = 3;

accounts::TUserID Account(int port)
{
    accounts::TUserID id;
    id.AccountName = "joe";
    id.Password = "secret";
    id.Host = "127.0.0.1";
    id.Port = port;
    return id;
}

// The record a receive made of message n of a maildrop of MessageCount messages, read from a
// server without faults (the faulted one would answer the probe with its faults too).
accounts::TMailMessage RecordOf(std::int32_t n, bool withUniqueId)
{
    TMaildropFaults faults;
    faults.Uidl = withUniqueId;
    TFakeMaildrop clean(TFakeMaildrop::Messages(MessageCount), faults);
    TTempHome scratch(false);
    retrieval::TPOP3Client probe(Account(clean.Port()), {}, scratch / "cache");
    probe.Open();
    const retrieval::THeaderResult header = probe.Header(n);
    accounts::TMailMessage record;
    record.Number = n;
    record.Headers = header.Header.Lines;
    record.CacheName = header.CacheName;
    record.UniqueId = probe.Uidl(n).value_or("");
    record.Subject = "Message " + std::to_string(n);
    return record;
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (std::filesystem::is_directory(folder))
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
    return names;
}

enum class TPlace
{
    Server,      // the maildrop's port
    Closed,      // a port nobody listens on
    BlockedCache // the cache folder lies below a plain file
};

struct TFetchCase
{
    std::string Name;
    TMaildropFaults Faults = {};
    TPlace Place = TPlace::Server;
    // Another mail program at work after the receive: message 2 goes, so 3 is the old message 4.
    bool Renumbered = false;
    TFetchStatus Status = TFetchStatus::Fetched;
    std::vector<std::string> ErrorParts = {}; // each in the error text ("PORT": the port used)
    bool Quit = true;                         // the session ended with QUIT
    bool Retrieved = false;                   // RETR was sent
};
void PrintTo(const TFetchCase& c, std::ostream* os)
{
    *os << c.Name;
}

TMaildropFaults WithoutUidl()
{
    TMaildropFaults faults;
    faults.Uidl = false;
    return faults;
}

TMaildropFaults Replying(TReplyFault fault, bool uidl = true)
{
    TMaildropFaults faults;
    faults.Uidl = uidl;
    faults.Replies = {std::move(fault)};
    return faults;
}

TMaildropFaults WrongPassword()
{
    TMaildropFaults faults;
    faults.RefuseLogin = true;
    return faults;
}

class FetchMessageTest : public ::testing::TestWithParam<TFetchCase>
{};

TEST_P(FetchMessageTest, StoresOnlyTheRecordsMessage)
{
    const TFetchCase& c = GetParam();
    const accounts::TMailMessage record = RecordOf(Wanted, c.Faults.Uidl);
    TTempHome home;
    TFakeMaildrop server(TFakeMaildrop::Messages(MessageCount), c.Faults);
    if (c.Renumbered)
        server.Remove(2);
    const int port = c.Place == TPlace::Closed ? ClosedLoopbackPort() : server.Port();
    std::string cacheFolder = home / "cache";
    if (c.Place == TPlace::BlockedCache) {
        WriteFileBytes(home / "blocker", "a file, not a folder");
        cacheFolder = home / "blocker/cache";
    }

    accounts::TLoginPacing pacing;
    TFetchMessage fetch(Account(port), {}, cacheFolder, pacing);
    fetch.SetReplyTimeoutMs(5000);
    const TFetchOutcome outcome = fetch.Run(record);

    EXPECT_EQ(outcome.Status, c.Status) << outcome.Error;
    for (std::string part : c.ErrorParts) {
        if (part == "PORT")
            part = "127.0.0.1:" + std::to_string(port);
        else if (part == "CACHE")
            part = cacheFolder;
        EXPECT_THAT(outcome.Error, HasSubstr(part));
    }
    if (c.Status == TFetchStatus::Fetched) {
        EXPECT_TRUE(outcome.Error.empty()) << outcome.Error;
        EXPECT_EQ(outcome.CachePath, cacheFolder + "/" + record.CacheName + ".eml");
        EXPECT_EQ(ReadFileBytes(outcome.CachePath), TFakeMaildrop::Message(Wanted));
    } else {
        EXPECT_TRUE(outcome.CachePath.empty());
        // Nothing of the message, not even a partial temporary file, stays in the cache.
        EXPECT_THAT(FilesIn(cacheFolder), ::testing::IsEmpty());
    }
    EXPECT_THAT(server.Deleted(), ::testing::IsEmpty());

    const std::vector<std::vector<std::string>> sessions = server.Commands();
    if (c.Place == TPlace::Closed) {
        EXPECT_TRUE(sessions.empty());
        return;
    }
    ASSERT_EQ(sessions.size(), 1u);
    const std::vector<std::string>& session = sessions.front();
    for (const std::string& command : session)
        EXPECT_FALSE(command.starts_with("DELE")) << command;
    EXPECT_EQ(!session.empty() && session.back() == "QUIT", c.Quit);
    EXPECT_EQ(std::find(session.begin(), session.end(), "RETR 3") != session.end(), c.Retrieved);
    if (c.Retrieved) {
        // The identity is proved before RETR.
        const auto retr = std::find(session.begin(), session.end(), "RETR 3");
        EXPECT_NE(std::find(session.begin(), retr, "TOP 3 0"), retr);
        if (c.Faults.Uidl) {
            EXPECT_NE(std::find(session.begin(), retr, "UIDL 3"), retr);
        }
    }
}

using TKind = TReplyFault::TKind;

INSTANTIATE_TEST_SUITE_P(
    Cases, FetchMessageTest,
    ::testing::Values(
        TFetchCase{.Name = "Fetched", .Retrieved = true},
        TFetchCase{.Name = "FetchedWithoutUidl", .Faults = WithoutUidl(), .Retrieved = true},
        // Without unique ids the header alone shows that number 3 is now another message.
        TFetchCase{.Name = "HeaderDiffers",
                   .Faults = WithoutUidl(),
                   .Renumbered = true,
                   .Status = TFetchStatus::OutOfSync},
        TFetchCase{.Name = "UidlDiffers", .Renumbered = true, .Status = TFetchStatus::OutOfSync},
        TFetchCase{.Name = "TopRefused",
                   .Faults = Replying({"TOP 3 0", TKind::Refuse, -1, "Invalid message number."}, false),
                   .Status = TFetchStatus::OutOfSync},
        TFetchCase{.Name = "UidlRefused",
                   .Faults = Replying({"UIDL 3", TKind::Refuse, -1, "Invalid message number."}),
                   .Status = TFetchStatus::OutOfSync},
        TFetchCase{.Name = "ConnectionRefused",
                   .Place = TPlace::Closed,
                   .Status = TFetchStatus::CannotConnect,
                   .ErrorParts = {"PORT"}},
        TFetchCase{.Name = "WrongPassword",
                   .Faults = WrongPassword(),
                   .Status = TFetchStatus::CannotConnect,
                   .ErrorParts = {"PORT", "Authentication failed."},
                   .Quit = false},
        TFetchCase{.Name = "CutDuringRetr",
                   .Faults = Replying({"RETR 3", TKind::Cut, -1, ""}),
                   .Status = TFetchStatus::Failed,
                   .ErrorParts = {"PORT"},
                   .Quit = false,
                   .Retrieved = true},
        TFetchCase{.Name = "RetrRefused",
                   .Faults = Replying({"RETR 3", TKind::Refuse, -1, "Message is locked."}),
                   .Status = TFetchStatus::Failed,
                   .ErrorParts = {"PORT", "Message is locked."},
                   .Retrieved = true},
        TFetchCase{.Name = "CacheNotWritable",
                   .Place = TPlace::BlockedCache,
                   .Status = TFetchStatus::Failed,
                   .ErrorParts = {"CACHE", "Not a directory"},
                   .Retrieved = true}),
    [](const auto& info) { return info.param.Name; });

// A server that changes message 3 between TOP and RETR: the second TOP (inside the download) and
// RETR give another message. What RETR stored belongs to that other message and stays; the record's
// cache file is not made.
TEST(FetchMessageChangeTest, AMessageChangedBeforeRetrIsOutOfSync)
{
    const accounts::TMailMessage record = RecordOf(Wanted, false);
    const std::string other = TFakeMaildrop::Message(9);
    std::vector<TFakeStep> script = TFakePop3Server::Login();
    for (const TFakeStep& step : std::vector<TFakeStep>{
             Expect("CAPA"), Say("-ERR unknown command"), Expect("TOP 3 0"),
             Raw("+OK\r\n" +
                 TFakeMaildrop::Message(Wanted).substr(0,
                                                       TFakeMaildrop::Message(Wanted).find("\r\n\r\n") + 2) +
                 ".\r\n"),
             Expect("NOOP"), Say("+OK"), Expect("LIST 3"), Say("+OK 3 " + std::to_string(other.size())),
             Expect("TOP 3 0"), Raw("+OK\r\n" + other.substr(0, other.find("\r\n\r\n") + 2) + ".\r\n"),
             Expect("RETR 3"), Raw("+OK\r\n" + other + ".\r\n")})
        script.push_back(step);
    TFakePop3Server server(script);
    TTempHome home;
    accounts::TLoginPacing pacing;
    TFetchMessage fetch(Account(server.Port()), {}, home / "cache", pacing);
    const TFetchOutcome outcome = fetch.Run(record);
    server.WaitDone();

    EXPECT_EQ(outcome.Status, TFetchStatus::OutOfSync) << outcome.Error;
    EXPECT_THAT(server.Mismatches(), ::testing::IsEmpty());
    EXPECT_EQ(server.Received().back(), "QUIT");
    EXPECT_FALSE(std::filesystem::exists(home / ("cache/" + record.CacheName + ".eml")));
    const std::vector<std::string> files = FilesIn(home / "cache");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadFileBytes(home / ("cache/" + files[0])), other);
}

// Stop from another thread ends Run soon, wherever it waits: for a server that stopped answering,
// or for the login delay of the server. Nothing is stored.
struct TStopCase
{
    std::string Name;
    bool InLoginWait;
};
void PrintTo(const TStopCase& c, std::ostream* os)
{
    *os << c.Name;
}

class FetchStopTest : public ::testing::TestWithParam<TStopCase>
{};

TEST_P(FetchStopTest, ReturnsStoppedPromptly)
{
    const TStopCase& c = GetParam();
    const accounts::TMailMessage record = RecordOf(Wanted, true);
    std::vector<TFakeStep> script = TFakePop3Server::Login();
    script.push_back(Expect("CAPA"));
    script.push_back(Stall());
    TFakePop3Server server(script);
    TTempHome home;
    accounts::TLoginPacing pacing;
    std::vector<std::int64_t> shown;
    if (c.InLoginWait) {
        pacing.SetDelaySeconds(600);
        pacing.LoggedIn();
    }
    TFetchMessage fetch(Account(server.Port()), {}, home / "cache", pacing,
                        [&](std::int64_t left, std::int32_t) { shown.push_back(left); });

    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        fetch.Stop();
    });
    const auto start = std::chrono::steady_clock::now();
    const TFetchOutcome outcome = fetch.Run(record);
    const auto took = std::chrono::steady_clock::now() - start;
    stopper.join();

    EXPECT_EQ(outcome.Status, TFetchStatus::Stopped) << outcome.Error;
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_THAT(FilesIn(home / "cache"), ::testing::IsEmpty());
    if (c.InLoginWait) {
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.front(), 600);
        EXPECT_THAT(server.Received(), ::testing::IsEmpty()); // it never connected
    } else {
        EXPECT_TRUE(shown.empty());
        EXPECT_THAT(server.Received(), Contains("CAPA"));
        EXPECT_THAT(server.Received(), Not(Contains("QUIT")));
    }
}

INSTANTIATE_TEST_SUITE_P(Waits, FetchStopTest,
                         ::testing::Values(TStopCase{"SlowReply", false}, TStopCase{"LoginDelay", true}),
                         [](const auto& info) { return info.param.Name; });

} // namespace
