// The POP3 session against a real Dovecot on loopback: plain, STLS and implicit TLS logins,
// counting, headers, whole messages into the cache, unique ids and deletion.
#include <cstdlib>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "retrieval/Pop3Errors.h"
#include "retrieval/TPOP3Client.h"
#include "support/TDovecot.h"
#include "support/TTempHome.h"

using namespace tarnwick;
using namespace tarnwick::retrieval;
using namespace tarnwick::test;
using accounts::TConnectionSecurity;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::vector<std::string> MessageFiles = {"pop3/Plain.eml", "pop3/DotLines.eml", "pop3/Folded.eml"};

// The header lines of a message file as TOP n 0 gives them.
std::vector<std::string> HeaderLinesOf(const std::string& message)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (;;) {
        const std::size_t end = message.find("\r\n", at);
        const std::string line = message.substr(at, end - at);
        if (line.empty() || end == std::string::npos)
            return lines;
        lines.push_back(line);
        at = end + 2;
    }
}

class DovecotTest : public ::testing::Test
{
protected:
    // The fixture's server; TARNWICK_DOVECOT_STATE names another one's state file (manual runs).
    TDovecot Server{std::getenv("TARNWICK_DOVECOT_STATE") ? std::getenv("TARNWICK_DOVECOT_STATE")
                                                          : TARNWICK_DOVECOT_STATE};
    TTempHome Home;
    std::string CacheFolder = Home / "VedOzurCache";
    std::vector<std::string> Messages;
    std::string UserName;
    std::string Password = "pw-" + std::to_string(::getpid());

    void SetUp() override
    {
        for (const std::string& file : MessageFiles)
            Messages.push_back(ReadFileBytes(Fixture(file)));
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        UserName = std::string(test->test_suite_name()) + "." + test->name();
        std::replace(UserName.begin(), UserName.end(), '/', '-');
        // Dovecot looks users up in lower case.
        std::transform(UserName.begin(), UserName.end(), UserName.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        Server.CreateUser(UserName, Password, Messages);
        ::setenv("TARNWICK_CA_FILE", Server.CaFile().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("TARNWICK_CA_FILE"); }

    accounts::TUserID User(TConnectionSecurity security, std::string host = "127.0.0.1") const
    {
        accounts::TUserID user;
        user.AccountName = UserName;
        user.Password = Password;
        user.Host = std::move(host);
        user.Security = security;
        user.Port = security == TConnectionSecurity::Tls ? Server.Pop3sPort() : Server.Pop3Port();
        return user;
    }

    std::unique_ptr<TPOP3Client> Client(const accounts::TUserID& user, bool fullMessage = true) const
    {
        accounts::TReceiveSettings settings;
        settings.TimeoutMs = 5000;
        settings.FullMessage = fullMessage;
        auto client = std::make_unique<TPOP3Client>(user, settings, CacheFolder);
        client->SetReplyTimeoutMs(10000);
        return client;
    }
};

struct TSecurityCase
{
    const char* Name;
    TConnectionSecurity Security;
    const char* Host;
};

void PrintTo(const TSecurityCase& c, std::ostream* os)
{
    *os << c.Name;
}

class SessionTest : public DovecotTest, public ::testing::WithParamInterface<TSecurityCase>
{};

TEST_P(SessionTest, CountsFetchesAndDeletes)
{
    const accounts::TUserID user = User(GetParam().Security, GetParam().Host);
    auto client = Client(user);
    ASSERT_TRUE(client->Open());
    ASSERT_EQ(client->MessageCount(), 3);

    const std::optional<std::vector<TUidlEntry>> uids = client->Uidl();
    ASSERT_TRUE(uids.has_value());
    ASSERT_EQ(uids->size(), 3u);
    for (std::int32_t n = 1; n <= 3; ++n) {
        const std::string& message = Messages[static_cast<std::size_t>(n - 1)];
        EXPECT_EQ((*uids)[static_cast<std::size_t>(n - 1)].Number, n);
        EXPECT_EQ(client->Uidl(n), (*uids)[static_cast<std::size_t>(n - 1)].UniqueId);

        EXPECT_EQ(client->Header(n).Header.Lines, HeaderLinesOf(message)) << "message " << n;
        const TFetchResult fetched = client->Fetch(n);
        EXPECT_EQ(fetched.Header.Lines, HeaderLinesOf(message));
        EXPECT_EQ(fetched.Size, static_cast<std::int32_t>(message.size()));
        EXPECT_EQ(ReadFileBytes(client->CacheFilePath(fetched.CacheName)), message) << "message " << n;
    }

    EXPECT_TRUE(client->Delete(2));
    EXPECT_TRUE(client->Close());

    // The deletion is carried out by QUIT: the next session sees the two others, renumbered.
    auto again = Client(user, false);
    ASSERT_TRUE(again->Open());
    ASSERT_EQ(again->MessageCount(), 2);
    EXPECT_EQ(again->Header(1).Header.Lines, HeaderLinesOf(Messages[0]));
    EXPECT_EQ(again->Header(2).Header.Lines, HeaderLinesOf(Messages[2]));
    EXPECT_EQ(again->Uidl(2), (*uids)[2].UniqueId);
    again->Close();
    EXPECT_EQ(Server.MaildropFiles(UserName).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Security, SessionTest,
    ::testing::Values(TSecurityCase{"Plain", TConnectionSecurity::None, "127.0.0.1"},
                      TSecurityCase{"StartTls", TConnectionSecurity::StartTls, "localhost"},
                      TSecurityCase{"ImplicitTls", TConnectionSecurity::Tls, "localhost"},
                      TSecurityCase{"ImplicitTlsByAddress", TConnectionSecurity::Tls, "127.0.0.1"}),
    [](const auto& info) { return info.param.Name; });

struct TRefusedCase
{
    const char* Name;
    TConnectionSecurity Security;
    const char* Host;
    bool TrustTestCa;
    const char* Why;
};

void PrintTo(const TRefusedCase& c, std::ostream* os)
{
    *os << c.Name;
}

class CertificateTest : public DovecotTest, public ::testing::WithParamInterface<TRefusedCase>
{};

// A certificate that cannot be verified ends the session before the login, with the reason.
TEST_P(CertificateTest, IsRefusedWithTheReason)
{
    const TRefusedCase& c = GetParam();
    if (!c.TrustTestCa)
        ::unsetenv("TARNWICK_CA_FILE");
    auto client = Client(User(c.Security, c.Host));
    try {
        client->Open();
        FAIL() << "the session opened";
    } catch (const TConnectionError& e) {
        EXPECT_THAT(e.what(),
                    HasSubstr(std::string("The TLS certificate of ") + c.Host + " is not trusted: "));
        EXPECT_THAT(e.what(), HasSubstr(c.Why));
        EXPECT_THAT(e.what(), Not(HasSubstr(Password)));
    }
    EXPECT_FALSE(client->IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Tls, CertificateTest,
                         ::testing::Values(TRefusedCase{"UnknownCaImplicit", TConnectionSecurity::Tls,
                                                        "localhost", false, "local issuer certificate"},
                                           TRefusedCase{"UnknownCaStartTls", TConnectionSecurity::StartTls,
                                                        "localhost", false, "local issuer certificate"},
                                           TRefusedCase{"OtherAddress", TConnectionSecurity::Tls, "127.0.0.2",
                                                        true, "IP address mismatch"}),
                         [](const auto& info) { return info.param.Name; });

TEST_F(DovecotTest, AWrongPasswordIsAProtocolErrorWithoutThePassword)
{
    accounts::TUserID user = User(TConnectionSecurity::None);
    user.Password = "wrong-" + Password;
    auto client = Client(user);
    try {
        client->Open();
        FAIL() << "logged in";
    } catch (const TProtocolError& e) {
        EXPECT_THAT(e.what(), HasSubstr("Authentication failed"));
        EXPECT_THAT(e.what(), Not(HasSubstr(user.Password)));
    }
    EXPECT_FALSE(client->IsOpen());
}

TEST_F(DovecotTest, AMessageNumberBeyondTheMaildropIsAProtocolError)
{
    auto client = Client(User(TConnectionSecurity::None));
    client->Open();
    EXPECT_THROW(client->Header(4), TProtocolError);
    EXPECT_THROW(client->Fetch(4), TProtocolError);
    EXPECT_THROW(client->Delete(4), TProtocolError);
    EXPECT_EQ(client->MessageCount(), 3); // the session goes on
    client->Close();
}

} // namespace
