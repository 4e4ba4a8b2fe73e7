// tarnwick-cli add-account, accounts and receive as a cron job would run them: the real binary on
// a private home against the Dovecot fixture.
#include <algorithm>
#include <cstdlib>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TDovecot.h"
#include "support/TFakeMaildrop.h"
#include "support/TProcess.h"
#include "support/TTempHome.h"

using namespace tarnwick::test;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class CliReceiveTest : public ::testing::Test
{
protected:
    TDovecot Server{std::getenv("TARNWICK_DOVECOT_STATE") ? std::getenv("TARNWICK_DOVECOT_STATE")
                                                          : TARNWICK_DOVECOT_STATE};
    TTempHome Home;
    std::string Password = "cli-pw-" + std::to_string(::getpid());

    TProcessResult Cli(const std::vector<std::string>& args, const std::string& input = {})
    {
        TProcessResult result = RunProcess(TARNWICK_CLI, args, input, {"TARNWICK_HOME=" + Home.Path()});
        EXPECT_THAT(result.Out, Not(HasSubstr(Password)));
        EXPECT_THAT(result.Err, Not(HasSubstr(Password)));
        return result;
    }

    void AddAccount(const std::string& name, const std::string& user, int port, const std::string& password)
    {
        const TProcessResult added = Cli({"add-account", "--name", name, "--host", "127.0.0.1", "--user",
                                          user, "--port", std::to_string(port)},
                                         password + "\n");
        ASSERT_EQ(added.Status, 0) << added.Err;
    }
};

TEST_F(CliReceiveTest, ReceivesClassifiesAndDeletesTheTrash)
{
    const std::string user = "clireceivetest.receives";
    Server.CreateUser(user, Password,
                      {TFakeMaildrop::Message(1, "friend@example.org"),
                       TFakeMaildrop::Message(2, "spam@example.org"),
                       TFakeMaildrop::Message(3, "friend@example.org")});
    AddAccount("Dove", user, Server.Pop3Port(), Password);

    const TProcessResult listed = Cli({"accounts"});
    EXPECT_EQ(listed.Status, 0);
    EXPECT_THAT(listed.Out, HasSubstr("\tDove\t" + user + "@127.0.0.1:" + std::to_string(Server.Pop3Port()) +
                                      "\tnone\tdefault\n"));

    // Listed senders go to the trash, friends are good.
    ASSERT_EQ(Cli({"list", "black", "add", "spam@example.org"}).Status, 0);
    ASSERT_EQ(Cli({"list", "white", "add", "friend@example.org"}).Status, 0);
    WriteFileBytes(Home / "trash.reg", "Windows Registry Editor Version 5.00\r\n\r\n"
                                       "[HKEY_CURRENT_USER\\Software\\Orvalent\\Tarnwick\\Options]\r\n"
                                       "\"DatabaseAction\"=\"0\"\r\n");
    ASSERT_EQ(Cli({"settings", "import", Home / "trash.reg"}).Status, 0);

    const TProcessResult json = Cli({"receive", "Dove", "--json"});
    EXPECT_EQ(json.Status, 0) << json.Err;
    EXPECT_THAT(json.Out, HasSubstr("\"Number\": 2,\n      \"Classification\": \"trash\""));
    EXPECT_THAT(json.Out, HasSubstr("\"Number\": 3,\n      \"Classification\": \"good\""));
    EXPECT_THAT(json.Out, HasSubstr("\"Subject\": \"Message 1\""));
    EXPECT_THAT(json.Out, HasSubstr("\"Reason\": \"The sender spam@example.org is on the Black list.\""));

    const TProcessResult deleted = Cli({"receive", "--delete-trashed"});
    EXPECT_EQ(deleted.Status, 0) << deleted.Err;
    // Number, classification, sender, subject and the size the server lists, as received.
    EXPECT_THAT(deleted.Out,
                ::testing::MatchesRegex("1\tgood\tfriend@example.org\tMessage 1\t1[0-9][0-9]\n"
                                        "2\ttrash\tspam@example.org\tMessage 2\t1[0-9][0-9]\n"
                                        "3\tgood\tfriend@example.org\tMessage 3\t1[0-9][0-9]\n"));
    EXPECT_THAT(deleted.Err, HasSubstr("1 trashed message(s) deleted on the server"));
    EXPECT_EQ(Server.MaildropFiles(user).size(), 2u);

    const TProcessResult after = Cli({"receive"});
    EXPECT_EQ(after.Status, 0);
    EXPECT_THAT(after.Out, HasSubstr("2\tgood\tfriend@example.org\tMessage 3\t"));
}

struct TFailureCase
{
    std::string Name;
    bool WrongPassword;
    bool Unreachable;
    std::string Error;
};
void PrintTo(const TFailureCase& c, std::ostream* os)
{
    *os << c.Name;
}

class CliReceiveFailureTest : public CliReceiveTest, public ::testing::WithParamInterface<TFailureCase>
{};

TEST_P(CliReceiveFailureTest, ExitsWithTheErrorText)
{
    const TFailureCase& c = GetParam();
    std::string user = "clireceivefailure." + c.Name;
    std::transform(user.begin(), user.end(), user.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    Server.CreateUser(user, Password, {TFakeMaildrop::Message(1)});
    AddAccount("Dove", user, c.Unreachable ? 1 : Server.Pop3Port(),
               c.WrongPassword ? Password + "x" : Password);
    const TProcessResult result = Cli({"receive"});
    EXPECT_EQ(result.Status, 1);
    EXPECT_THAT(result.Err, HasSubstr(c.Error));
    EXPECT_EQ(result.Out, "");
}

INSTANTIATE_TEST_SUITE_P(Failures, CliReceiveFailureTest,
                         ::testing::Values(TFailureCase{"WrongPassword", true, false,
                                                        "Incorect user name or password, please try again !"},
                                           TFailureCase{"Unreachable", false, true,
                                                        "Failed to connect to remote server!"}),
                         [](const auto& info) { return info.param.Name; });

TEST_F(CliReceiveTest, AddAccountTakesThePasswordFromStandardInputOnly)
{
    const TProcessResult missing = Cli({"add-account", "--name", "A", "--host", "h", "--user", "u"}, "");
    EXPECT_EQ(missing.Status, 1);
    EXPECT_THAT(missing.Err, HasSubstr("standard input"));
    const TProcessResult unknown =
        Cli({"add-account", "--name", "A", "--host", "h", "--user", "u", "--password", "x"}, "pw\n");
    EXPECT_EQ(unknown.Status, 2);
    EXPECT_EQ(Cli({"accounts"}).Out, "");
}

} // namespace
