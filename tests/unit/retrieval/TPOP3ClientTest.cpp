// The POP3 session against a scripted server: the exact commands, the replies of real servers'
// dialects, and the faults that a real server will not produce on demand.
#include "retrieval/TPOP3Client.h"

#include <filesystem>
#include <thread>

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "retrieval/Pop3Errors.h"
#include "support/TFakePop3Server.h"
#include "support/TTempHome.h"

using namespace tarnwick;
using namespace tarnwick::retrieval;
using namespace tarnwick::test;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr const char* Password = "s3cr3t-pw";

std::vector<TFakeStep> operator+(std::vector<TFakeStep> a, const std::vector<TFakeStep>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<TFakeStep> LoggedIn()
{
    return TFakePop3Server::Login("joe", Password);
}

std::vector<TFakeStep> AfterLogin(std::vector<TFakeStep> steps)
{
    return LoggedIn() + steps;
}

class Pop3ClientTest : public ::testing::Test
{
protected:
    TTempHome Home;
    std::string CacheFolder = Home / "VedOzurCache";

    std::unique_ptr<TPOP3Client>
    Client(const TFakePop3Server& server, bool fullMessage = false,
           accounts::TConnectionSecurity security = accounts::TConnectionSecurity::None)
    {
        accounts::TUserID user;
        user.AccountName = "joe";
        user.Password = Password;
        user.Host = "127.0.0.1";
        user.Port = server.Port();
        user.Security = security;
        accounts::TReceiveSettings settings;
        settings.TimeoutMs = 2000;
        settings.FullMessage = fullMessage;
        auto client = std::make_unique<TPOP3Client>(user, settings, CacheFolder);
        client->SetReplyTimeoutMs(1000);
        return client;
    }
};

// --- one complete session: every command as written on the wire, every result -----------------

TEST_F(Pop3ClientTest, SpeaksTheCommandsExactlyAndCollectsTheResults)
{
    TFakePop3Server server(LoggedIn() + std::vector<TFakeStep>{Expect("STAT"),
                                                               Say("+OK 2 530"),
                                                               Expect("NOOP"),
                                                               Say("+OK"),
                                                               Expect("LIST 2"),
                                                               Say("+OK 2 311"),
                                                               Expect("TOP 2 0"),
                                                               Say("+OK top follows"),
                                                               Say("Message-ID: <a b@x>"),
                                                               Say("Subject: hi"),
                                                               Say("..Dotted: header"),
                                                               Say(""),
                                                               Say("."),
                                                               Expect("RETR 2"),
                                                               Say("+OK message follows"),
                                                               Say("Message-ID: <a b@x>"),
                                                               Say("Subject: hi"),
                                                               Say("..Dotted: header"),
                                                               Say(""),
                                                               Say("Body"),
                                                               Say(".."),
                                                               Say("..."),
                                                               Say(".not stuffed"),
                                                               Say(""),
                                                               Say("."),
                                                               Expect("UIDL"),
                                                               Say("+OK"),
                                                               Say("1 uid-one"),
                                                               Say("2 uid-two"),
                                                               Say("."),
                                                               Expect("UIDL 2"),
                                                               Say("+OK 2 uid-two"),
                                                               Expect("DELE 2"),
                                                               Say("+OK marked"),
                                                               Expect("QUIT"),
                                                               Say("+OK bye")});
    auto client = Client(server, true);

    ASSERT_TRUE(client->Open());
    EXPECT_TRUE(client->Open()); // already open: nothing is sent
    EXPECT_EQ(client->MessageCount(), 2);
    const TFetchResult fetched = client->Fetch(2);
    EXPECT_EQ(fetched.Size, 311);
    EXPECT_EQ(client->LastSize(), 311);
    EXPECT_EQ(fetched.Header.Lines,
              (std::vector<std::string>{"Message-ID: <a b@x>", "Subject: hi", ".Dotted: header"}));
    EXPECT_EQ(fetched.CacheName, "~60a~32b@x~62");
    EXPECT_EQ(ReadFileBytes(CacheFolder + "/~60a~32b@x~62.eml"),
              "Message-ID: <a b@x>\r\nSubject: hi\r\n.Dotted: header\r\n\r\nBody\r\n.\r\n..\r\n.not "
              "stuffed\r\n\r\n");
    EXPECT_EQ(client->Uidl(), (std::vector<TUidlEntry>{{1, "uid-one"}, {2, "uid-two"}}));
    EXPECT_EQ(client->Uidl(2), "uid-two");
    EXPECT_TRUE(client->Delete(2));
    EXPECT_TRUE(client->Close());
    EXPECT_FALSE(client->IsOpen());
    server.WaitDone();
    EXPECT_THAT(server.Mismatches(), ::testing::IsEmpty());
    EXPECT_EQ(std::filesystem::status(CacheFolder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
}

TEST_F(Pop3ClientTest, ServersInLowerCaseAndWithoutNumbersAreUnderstood)
{
    TFakePop3Server server({Say("+ok hello"),
                            Expect("CAPA"),
                            Say("-err"),
                            Expect("USER joe"),
                            Say("+ok"),
                            Expect(std::string("PASS ") + Password),
                            Say("+ok"),
                            Expect("STAT"),
                            Say("+ok"),
                            Expect("NOOP"),
                            Say("+ok"),
                            Expect("LIST 1"),
                            Say("+ok"),
                            Expect("TOP 1 0"),
                            Say("+ok"),
                            Say("Subject: x"),
                            Say("."),
                            Expect("UIDL"),
                            Say("-err command not supported"),
                            Expect("UIDL 1"),
                            Say("-ERR no")});
    auto client = Client(server);
    ASSERT_TRUE(client->Open());
    EXPECT_EQ(client->MessageCount(), 0); // "+OK" without text
    EXPECT_EQ(client->Fetch(1).Size, 0);  // LIST without a size
    EXPECT_EQ(client->Uidl(), std::nullopt);
    EXPECT_EQ(client->Uidl(1), std::nullopt);
    client->Close();
    EXPECT_THAT(server.Mismatches(), ::testing::IsEmpty());
}

// Only a confirmed QUIT means the server carried out the deletions; the deletion flow must see a
// refusal and a silent server as such.
TEST_F(Pop3ClientTest, CloseTellsWhetherTheServerConfirmedQuit)
{
    struct TCase
    {
        const char* Name;
        std::vector<TFakeStep> Quit;
        bool Confirmed;
    };
    const std::vector<TCase> cases = {
        {"Confirmed", {Expect("QUIT"), Say("+OK bye")}, true},
        {"Refused", {Expect("QUIT"), Say("-ERR some deleted messages not removed")}, false},
        {"Dropped", {Expect("QUIT"), Drop()}, false},
        {"Garbage", {Expect("QUIT"), Say("BYE")}, false},
    };
    for (const TCase& c : cases) {
        TFakePop3Server server(AfterLogin({Expect("DELE 1"), Say("+OK")}) + c.Quit);
        auto client = Client(server);
        client->Open();
        client->Delete(1);
        EXPECT_EQ(client->Close(), c.Confirmed) << c.Name;
        EXPECT_FALSE(client->IsOpen()) << c.Name;
        EXPECT_FALSE(client->Close()) << c.Name; // closed: nothing more is sent
        server.WaitDone();
        EXPECT_THAT(server.Mismatches(), ::testing::IsEmpty()) << c.Name;
    }
}

// --- whole messages and the cache ---------------------------------------------------------------

// A cache file that holds the message is never fetched again, whatever its size; one that holds
// another message with the same cache name is replaced by this one's.
TEST_F(Pop3ClientTest, AnExistingCacheFileIsFetchedAgainOnlyForAnotherMessage)
{
    struct TCase
    {
        const char* Name;
        std::string File;
        bool Fetched;
    };
    const std::string own = "Message-ID: <old@x>\r\nSubject: mine\r\n\r\nkept as it is\r\n";
    for (const TCase& c :
         {TCase{"Own", own, false},
          TCase{"Other", "Message-ID: <old@x>\r\nSubject: other\r\n\r\nnot mine\r\n", true}}) {
        SCOPED_TRACE(c.Name);
        std::filesystem::create_directories(CacheFolder);
        WriteFileBytes(CacheFolder + "/~60old@x~62.eml", c.File);
        std::vector<TFakeStep> script =
            LoggedIn() + std::vector<TFakeStep>{
                             Expect("NOOP"),    Say("+OK"), Expect("LIST 1"),           Say("+OK 1 99999999"),
                             Expect("TOP 1 0"), Say("+OK"), Say("Message-ID: <old@x>"), Say("Subject: mine"),
                             Say(".")};
        if (c.Fetched)
            script = script + std::vector<TFakeStep>{Expect("RETR 1"),
                                                     Say("+OK"),
                                                     Say("Message-ID: <old@x>"),
                                                     Say("Subject: mine"),
                                                     Say(""),
                                                     Say("kept as it is"),
                                                     Say(".")};
        TFakePop3Server server(script);
        auto client = Client(server, true);
        client->Open();
        client->Fetch(1);
        client->Close();
        const auto received = server.Received();
        EXPECT_EQ(std::find(received.begin(), received.end(), "RETR 1") != received.end(), c.Fetched);
        EXPECT_EQ(ReadFileBytes(CacheFolder + "/~60old@x~62.eml"), own);
    }
}

struct TRetrCase
{
    const char* Name;
    std::vector<TFakeStep> RetrReply;
    bool Throws;
};

void PrintTo(const TRetrCase& c, std::ostream* os)
{
    *os << c.Name;
}

class RetrFailureTest : public Pop3ClientTest, public ::testing::WithParamInterface<TRetrCase>
{};

// A message that cannot be retrieved whole leaves no cache file behind, so that a later fetch tries
// again instead of taking a stump for the message.
TEST_P(RetrFailureTest, LeavesNoCacheFile)
{
    TFakePop3Server server(LoggedIn() +
                           std::vector<TFakeStep>{Expect("NOOP"), Say("+OK"), Expect("LIST 1"),
                                                  Say("+OK 1 10"), Expect("TOP 1 0"), Say("+OK"),
                                                  Say("Message-ID: <m@x>"), Say("."), Expect("RETR 1")} +
                           GetParam().RetrReply);
    auto client = Client(server, true);
    client->Open();
    if (GetParam().Throws) {
        EXPECT_THROW(client->Fetch(1), TConnectionError);
        EXPECT_FALSE(client->IsOpen());
    } else {
        EXPECT_EQ(client->Fetch(1).CacheName, "~60m@x~62");
    }
    client->Close();
    EXPECT_FALSE(std::filesystem::exists(CacheFolder + "/~60m@x~62.eml"));
    if (std::filesystem::exists(CacheFolder)) {
        EXPECT_TRUE(std::filesystem::is_empty(CacheFolder));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Retr, RetrFailureTest,
    ::testing::Values(TRetrCase{"ErrReply", {Say("-ERR message is locked")}, false},
                      TRetrCase{
                          "DroppedMidMessage", {Say("+OK"), Say("Message-ID: <m@x>"), Say(""), Drop()}, true},
                      TRetrCase{"StoppedAnswering", {Say("+OK"), Say("Message-ID: <m@x>"), Stall()}, true}),
    [](const auto& info) { return info.param.Name; });

// --- faults: each gives the kind of error the callers act on ----------------------------------

enum class TKind
{
    Connection,
    Protocol,
    Unrecognized,
    Conversion,
};

enum class TAction
{
    Open,
    Count,
    Header,
    Fetch,
    Delete,
};

struct TFaultCase
{
    const char* Name;
    std::vector<TFakeStep> Script; // the whole conversation
    TAction Action;
    TKind Kind;
    std::string Text; // part of the error text
};

void PrintTo(const TFaultCase& c, std::ostream* os)
{
    *os << c.Name;
}

class FaultTest : public Pop3ClientTest, public ::testing::WithParamInterface<TFaultCase>
{};

TEST_P(FaultTest, GivesTheErrorKindCallersActOn)
{
    const TFaultCase& c = GetParam();
    TFakePop3Server server(c.Script);
    auto client = Client(server);
    std::string text;
    std::optional<TKind> kind;
    try {
        client->Open();
        switch (c.Action) {
        case TAction::Open:
            break;
        case TAction::Count:
            client->MessageCount();
            break;
        case TAction::Header:
            client->Header(1);
            break;
        case TAction::Fetch:
            client->Fetch(1);
            break;
        case TAction::Delete:
            client->Delete(1);
            break;
        }
    } catch (const TUnrecognizedReplyError& e) {
        kind = TKind::Unrecognized, text = e.what();
    } catch (const TConnectionError& e) {
        kind = TKind::Connection, text = e.what();
    } catch (const TProtocolError& e) {
        kind = TKind::Protocol, text = e.what();
    } catch (const core::TConversionError& e) {
        kind = TKind::Conversion, text = e.what();
    }
    ASSERT_TRUE(kind.has_value()) << "no error";
    EXPECT_EQ(*kind, c.Kind) << text;
    EXPECT_THAT(text, HasSubstr(c.Text));
    EXPECT_THAT(text, Not(HasSubstr(Password)));
    if (c.Action == TAction::Open || c.Kind == TKind::Connection || c.Kind == TKind::Unrecognized) {
        EXPECT_FALSE(client->IsOpen());
    }
    client->Close();
    EXPECT_THAT(server.Mismatches(), ::testing::IsEmpty());
}

const std::string Pass = std::string("PASS ") + Password;

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultTest,
    ::testing::Values(
        TFaultCase{"ErrGreeting", {Say("-ERR too busy")}, TAction::Open, TKind::Protocol, "too busy"},
        TFaultCase{"ErrUser",
                   {Say("+OK"), Expect("CAPA"), Say("-ERR"), Expect("USER joe"), Say("-ERR who")},
                   TAction::Open,
                   TKind::Protocol,
                   "who"},
        TFaultCase{"ErrPassEchoingThePassword",
                   {Say("+OK"), Expect("CAPA"), Say("-ERR"), Expect("USER joe"), Say("+OK"), Expect(Pass),
                    Say(std::string("-ERR bad ") + Password)},
                   TAction::Open,
                   TKind::Protocol,
                   "bad ***"},
        TFaultCase{"GarbageGreeting",
                   {Say("* OK IMAP4rev1")},
                   TAction::Open,
                   TKind::Unrecognized,
                   "Unrecognized POP3 Response Header:\n\"* OK IMAP4rev1\""},
        TFaultCase{"GarbageToPassEchoingThePassword",
                   {Say("+OK"), Expect("CAPA"), Say("-ERR"), Expect("USER joe"), Say("+OK"), Expect(Pass),
                    Say(std::string("?? ") + Password)},
                   TAction::Open,
                   TKind::Unrecognized,
                   "Unrecognized POP3 Response Header:\n\"?? ***\""},
        TFaultCase{
            "ClosedBeforeGreeting", {Drop()}, TAction::Open, TKind::Connection, "closed by the server"},
        TFaultCase{
            "SilentGreeting", {Stall()}, TAction::Open, TKind::Connection, "did not answer within 1 s"},
        TFaultCase{"ErrStat", AfterLogin({Expect("STAT"), Say("-ERR mailbox locked")}), TAction::Count,
                   TKind::Protocol, "mailbox locked"},
        TFaultCase{"StatWithoutNumber", AfterLogin({Expect("STAT"), Say("+OK many")}), TAction::Count,
                   TKind::Conversion, "many"},
        TFaultCase{"StatWithNegativeNumber", AfterLogin({Expect("STAT"), Say("+OK -1 0")}), TAction::Count,
                   TKind::Conversion, "-1"},
        TFaultCase{"GarbageStatusToStat", AfterLogin({Expect("STAT"), Say("OK 1 2")}), TAction::Count,
                   TKind::Unrecognized, "\"OK 1 2\""},
        TFaultCase{"ErrTop", AfterLogin({Expect("TOP 1 0"), Say("-ERR no such message")}), TAction::Header,
                   TKind::Protocol, "no such message"},
        TFaultCase{"DroppedMidTop", AfterLogin({Expect("TOP 1 0"), Say("+OK"), Say("Subject: half"), Drop()}),
                   TAction::Header, TKind::Connection, "closed by the server"},
        TFaultCase{"DroppedMidLine", AfterLogin({Expect("TOP 1 0"), Say("+OK"), Raw("Subject: ha"), Drop()}),
                   TAction::Header, TKind::Connection, "closed by the server"},
        TFaultCase{"StoppedAnsweringAfterCommand", AfterLogin({Expect("STAT"), Stall()}), TAction::Count,
                   TKind::Connection, "did not answer"},
        TFaultCase{"EndlessLine", AfterLogin({Expect("STAT"), Flood()}), TAction::Count, TKind::Connection,
                   "longer than 1048576 bytes"},
        TFaultCase{"EndlessHeaderLine", AfterLogin({Expect("TOP 1 0"), Say("+OK"), Flood()}), TAction::Header,
                   TKind::Connection, "longer than"},
        TFaultCase{"HugeHeader",
                   AfterLogin({Expect("TOP 1 0"), Say("+OK"), Raw([] {
                                   std::string pad;
                                   while (pad.size() <= TPOP3Client::MaxHeaderBytes)
                                       pad += "X-Pad: " + std::string(1000, 'p') + "\r\n";
                                   return pad;
                               }()),
                               Say(".")}),
                   TAction::Header, TKind::Protocol, "larger than 8388608 bytes"},
        TFaultCase{"ErrNoop", AfterLogin({Expect("NOOP"), Say("-ERR timeout")}), TAction::Fetch,
                   TKind::Protocol, "timeout"},
        TFaultCase{"ErrList",
                   AfterLogin({Expect("NOOP"), Say("+OK"), Expect("LIST 1"), Say("-ERR no such message")}),
                   TAction::Fetch, TKind::Protocol, "no such message"},
        TFaultCase{"ErrDele", AfterLogin({Expect("DELE 1"), Say("-ERR message 1 already deleted")}),
                   TAction::Delete, TKind::Protocol, "already deleted"}),
    [](const auto& info) { return info.param.Name; });

// --- security and control -------------------------------------------------------------------------

TEST_F(Pop3ClientTest, ARefusedStlsNeverSendsTheLogin)
{
    TFakePop3Server server({Say("+OK"), Expect("STLS"), Say("-ERR TLS not available")});
    auto client = Client(server, false, accounts::TConnectionSecurity::StartTls);
    try {
        client->Open();
        FAIL() << "no error";
    } catch (const TConnectionError& e) {
        EXPECT_THAT(e.what(), HasSubstr("refused STLS"));
    }
    server.WaitDone();
    EXPECT_EQ(server.Received(), (std::vector<std::string>{"STLS"}));
}

TEST_F(Pop3ClientTest, ALineBreakInTheLoginIsRefusedBeforeAnythingIsSent)
{
    TFakePop3Server server({Say("+OK")});
    auto client = Client(server);
    accounts::TUserID user;
    user.AccountName = "joe\r\nDELE 1";
    user.Host = "127.0.0.1";
    user.Port = server.Port();
    TPOP3Client injected(user, {}, CacheFolder);
    EXPECT_THROW(injected.Open(), TProtocolError);
    EXPECT_THAT(server.Received(), ::testing::IsEmpty());
}

TEST_F(Pop3ClientTest, AbortFromAnotherThreadEndsAWaitingCall)
{
    TFakePop3Server server(AfterLogin({Expect("STAT"), Stall()}));
    auto client = Client(server);
    client->SetReplyTimeoutMs(120000);
    client->Open();
    std::thread stopper([&] {
        while (server.Received().size() < 3)
            std::this_thread::yield();
        client->Abort();
    });
    EXPECT_THROW(client->MessageCount(), TConnectionError);
    stopper.join();
    EXPECT_THROW(client->Open(), TConnectionError); // a stopped client stays stopped
}

TEST_F(Pop3ClientTest, ARefusedConnectionIsAConnectionError)
{
    int port = 0;
    {
        TFakePop3Server closed({});
        port = closed.Port();
    }
    accounts::TUserID user;
    user.Host = "127.0.0.1";
    user.Port = port;
    TPOP3Client client(user, {}, CacheFolder);
    try {
        client.Open();
        FAIL() << "no error";
    } catch (const TConnectionError& e) {
        EXPECT_THAT(e.what(), HasSubstr("Cannot connect to 127.0.0.1:" + std::to_string(port)));
    }
}

// A server whose accept queue is full drops the connection request; the connect time-out of the
// account ends the wait.
TEST_F(Pop3ClientTest, AnUnansweredConnectEndsAtTheConnectTimeOut)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), length);
    }

    accounts::TUserID user;
    user.Host = "127.0.0.1";
    user.Port = ntohs(address.sin_port);
    accounts::TReceiveSettings settings;
    settings.TimeoutMs = 300;
    TPOP3Client client(user, settings, CacheFolder);
    try {
        client.Open();
        FAIL() << "connected";
    } catch (const TConnectionError& e) {
        EXPECT_THAT(e.what(), HasSubstr("did not accept the connection to port " + std::to_string(user.Port) +
                                        " within 300 ms"));
    }
    for (const int fd : fillers)
        ::close(fd);
    ::close(listener);
}

} // namespace

// --- the login: response codes, UTF8, login delay --------------------------------------------

struct TRefusalCase
{
    const char* Name;
    std::vector<TFakeStep> Script;
    TLoginRefusedError::TStep Step;
    std::string Code;
    bool WrongLogin;
    std::string Said; // part of the text shown to the user, besides the server's words
};

void PrintTo(const TRefusalCase& c, std::ostream* os)
{
    *os << c.Name;
}

class LoginRefusalTest : public Pop3ClientTest, public ::testing::WithParamInterface<TRefusalCase>
{};

// Only a refused user name or password is a wrong login; a busy, locked or failing server is told
// apart by its response code and reported in its own words, with host and port.
TEST_P(LoginRefusalTest, TellsAWrongPasswordFromABusyServer)
{
    const TRefusalCase& c = GetParam();
    TFakePop3Server server(c.Script);
    auto client = Client(server);
    try {
        client->Open();
        FAIL() << "the login was not refused";
    } catch (const TLoginRefusedError& e) {
        EXPECT_EQ(e.Step(), c.Step);
        EXPECT_EQ(e.Code(), c.Code);
        EXPECT_EQ(e.WrongLogin(), c.WrongLogin);
        const std::string text = LoginRefusalText("pop.example.org:110", e);
        EXPECT_THAT(text, HasSubstr("pop.example.org:110"));
        EXPECT_THAT(text, HasSubstr(e.what()));
        EXPECT_THAT(text, HasSubstr(c.Said));
        EXPECT_THAT(text, Not(HasSubstr(Password)));
    }
    EXPECT_FALSE(client->IsOpen());
    EXPECT_THAT(server.Mismatches(), ::testing::IsEmpty());
}

std::vector<TFakeStep> RefusedPass(const std::string& reply, const std::string& capa = "")
{
    std::vector<TFakeStep> script{Say("+OK ready"), Expect("CAPA")};
    if (capa.empty()) {
        script.push_back(Say("-ERR"));
    } else {
        script.push_back(Say("+OK"));
        script.push_back(Say(capa));
        script.push_back(Say("."));
    }
    return script + std::vector<TFakeStep>{Expect("USER joe"), Say("+OK"), Expect(Pass), Say(reply)};
}

using TStep = TLoginRefusedError::TStep;

INSTANTIATE_TEST_SUITE_P(
    Codes, LoginRefusalTest,
    ::testing::Values(
        TRefusalCase{"Auth", RefusedPass("-ERR [AUTH] Authentication failed."), TStep::Pass, "AUTH", true,
                     "refused the login"},
        TRefusalCase{"PlainErrToPass", RefusedPass("-ERR invalid password"), TStep::Pass, "", true,
                     "refused the login"},
        TRefusalCase{"PlainErrToUser",
                     {Say("+OK"), Expect("CAPA"), Say("-ERR"), Expect("USER joe"), Say("-ERR no such user")},
                     TStep::User,
                     "",
                     true,
                     "refused the login"},
        TRefusalCase{"InUse", RefusedPass("-ERR [IN-USE] Unable to lock maildrop"), TStep::Pass, "IN-USE",
                     false, "in use by another session"},
        TRefusalCase{"InUseInLowerCase", RefusedPass("-ERR [in-use] locked"), TStep::Pass, "IN-USE", false,
                     "in use by another session"},
        TRefusalCase{
            "LoginDelayAnnounced",
            RefusedPass("-ERR [LOGIN-DELAY] Logins must be at least 1 minute apart", "LOGIN-DELAY 60"),
            TStep::Pass, "LOGIN-DELAY", false, "wants 60 seconds between two logins"},
        TRefusalCase{"LoginDelayNotAnnounced", RefusedPass("-ERR [LOGIN-DELAY] Too soon"), TStep::Pass,
                     "LOGIN-DELAY", false, "wants a pause between two logins"},
        TRefusalCase{"SysTemp", RefusedPass("-ERR [SYS/TEMP] Internal error occurred"), TStep::Pass,
                     "SYS/TEMP", false, "temporary problem"},
        TRefusalCase{"SysPerm", RefusedPass("-ERR [SYS/PERM] Your account is disabled"), TStep::Pass,
                     "SYS/PERM", false, "ask your mail provider"},
        TRefusalCase{"GreetingRefused",
                     {Say("-ERR [SYS/TEMP] too many connections")},
                     TStep::Greeting,
                     "SYS/TEMP",
                     false,
                     "temporary problem"},
        TRefusalCase{
            "PlainErrGreeting", {Say("-ERR go away")}, TStep::Greeting, "", false, "refused the login"},
        TRefusalCase{"UnclosedBracketIsNoCode", RefusedPass("-ERR [AUTH failed"), TStep::Pass, "", true,
                     "refused the login"}),
    [](const auto& info) { return info.param.Name; });

TEST(CapabilitiesTest, ReadsTheCapabilitiesTheSessionActsOn)
{
    struct TCase
    {
        std::vector<std::string> Lines;
        bool Utf8;
        bool LoginDelay;
        std::int32_t Delay;
        bool PerUser;
    };
    const TCase cases[] = {
        {{"USER", "UIDL", "PIPELINING"}, false, false, 0, false},
        {{"UTF8 USER", "LOGIN-DELAY 60"}, true, true, 60, false},
        {{"utf8", "login-delay 900 USER"}, true, true, 900, true},
        {{"LOGIN-DELAY 0"}, false, true, 0, false},
        {{"LOGIN-DELAY soon"}, false, true, 0, false},
        {{"LOGIN-DELAY -5"}, false, true, 0, false},
        {{"UTF8X", "X-LOGIN-DELAY 60"}, false, false, 0, false},
    };
    for (const TCase& c : cases) {
        const TCapabilities capabilities = ParseCapabilities(c.Lines);
        SCOPED_TRACE(c.Lines.front());
        EXPECT_EQ(capabilities.Utf8, c.Utf8);
        EXPECT_EQ(capabilities.LoginDelay, c.LoginDelay);
        EXPECT_EQ(capabilities.LoginDelaySeconds, c.Delay);
        EXPECT_EQ(capabilities.LoginDelayPerUser, c.PerUser);
    }
}

TEST_F(Pop3ClientTest, SendsUtf8BeforeTheLoginWhenOfferedAndGoesOnWhenItIsRefused)
{
    for (const bool accepted : {true, false}) {
        TFakePop3Server server({Say("+OK ready"), Expect("CAPA"), Say("+OK"), Say("UIDL"), Say("UTF8 USER"),
                                Say("."), Expect("UTF8"), Say(accepted ? "+OK UTF8 enabled" : "-ERR no"),
                                Expect("USER joe"), Say("+OK"), Expect(Pass), Say("+OK")});
        auto client = Client(server);
        ASSERT_TRUE(client->Open());
        EXPECT_EQ(client->Utf8Mode(), accepted);
        EXPECT_TRUE(client->CapabilitiesBeforeLogin().Utf8);
        client->Close();
        EXPECT_THAT(server.Mismatches(), ::testing::IsEmpty());
    }
}

// A delay given before the login holds; one marked USER is the user's own after the login.
TEST_F(Pop3ClientTest, TakesTheLoginDelayFromBeforeOrAfterTheLogin)
{
    struct TCase
    {
        const char* Before; // the CAPA line before the login, or nothing
        std::vector<TFakeStep> After;
        std::int32_t Delay;
    };
    const TCase cases[] = {
        {"LOGIN-DELAY 60", {}, 60},
        {"LOGIN-DELAY 60 USER", {Expect("CAPA"), Say("+OK"), Say("LOGIN-DELAY 300"), Say(".")}, 300},
        {"LOGIN-DELAY 60 USER", {Expect("CAPA"), Say("+OK"), Say("LOGIN-DELAY 0"), Say(".")}, 0},
        {"LOGIN-DELAY 60 USER", {Expect("CAPA"), Say("+OK"), Say("UIDL"), Say(".")}, 60},
        {nullptr, {Expect("CAPA"), Say("+OK"), Say("LOGIN-DELAY 120"), Say(".")}, 120},
        {nullptr, {Expect("CAPA"), Say("-ERR")}, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Before ? c.Before : "none");
        std::vector<TFakeStep> script{Say("+OK ready"), Expect("CAPA")};
        if (c.Before)
            script = script + std::vector<TFakeStep>{Say("+OK"), Say(c.Before), Say(".")};
        else
            script.push_back(Say("-ERR"));
        TFakePop3Server server(
            script + std::vector<TFakeStep>{Expect("USER joe"), Say("+OK"), Expect(Pass), Say("+OK")} +
            c.After);
        auto client = Client(server);
        ASSERT_TRUE(client->Open());
        EXPECT_EQ(client->LoginDelaySeconds(), c.Delay);
        client->Close();
        EXPECT_THAT(server.Mismatches(), ::testing::IsEmpty());
    }
}
