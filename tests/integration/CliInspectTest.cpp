// tarnwick-cli inspect as a user runs it: a real process reading message files.

#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/TextUtils.h"
#include "support/TDnsmasq.h"
#include "support/TProcess.h"
#include "support/TTempHome.h"

using tarnwick::test::Fixture;
using tarnwick::test::ReadFileBytes;
using tarnwick::test::RunProcess;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;
using ::testing::HasSubstr;

namespace {

constexpr const char* Cli = TARNWICK_CLI;

class CliInspectTest : public ::testing::Test
{
protected:
    TTempHome Home;

    tarnwick::test::TProcessResult Run(const std::vector<std::string>& args, const std::string& input = {},
                                       const std::string& zone = "CET-1CEST,M3.5.0,M10.5.0/3")
    {
        return RunProcess(Cli, args, input, {"TARNWICK_HOME=" + Home.Path(), "TZ=" + zone});
    }
};

} // namespace

TEST_F(CliInspectTest, PrintsTheWholeRecordAsJson)
{
    const auto r = Run({"inspect", Fixture("messages/Rfc2047Subject.eml")});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.Out, R"({
  "Priority": 6,
  "HasAttachments": true,
  "FromName": "Jörg Müller",
  "FromText": "Jörg Müller <joerg@example.de>",
  "Subject": "Grüße aus Köln",
  "FromAddress": "joerg@example.de",
  "Organization": "",
  "CcText": "",
  "Sent": 1057049557000,
  "SentLocal": "2003-07-01T10:52:37+02:00",
  "Size": 470,
  "ToText": "Anna <anna@example.org>",
  "Number": 0,
  "Fetched": true,
  "CacheName": "~60x~32y~62",
  "Trashed": false,
  "UniqueId": "",
  "Relays": [
    "192.0.2.7"
  ]
}
)");
}

TEST_F(CliInspectTest, LocalTimeFollowsTheZoneAndTheCacheNameToo)
{
    struct
    {
        const char* Zone;
        const char* Local;
        const char* CacheName;
    } cases[] = {
        {"UTC0", R"("SentLocal": "2004-01-01T04:30:00+00:00")", "MsgIDPrefixBobbob@example.com01-01-2004"},
        {"EST5", R"("SentLocal": "2003-12-31T23:30:00-05:00")", "MsgIDPrefixBobbob@example.com31-12-2003"},
        {"<+0530>-5:30", R"("SentLocal": "2004-01-01T10:00:00+05:30")",
         "MsgIDPrefixBobbob@example.com01-01-2004"},
    };
    for (const auto& c : cases) {
        const auto r = Run({"inspect", Fixture("messages/NoMessageId.eml")}, {}, c.Zone);
        ASSERT_EQ(r.Status, 0) << r.Err;
        EXPECT_THAT(r.Out, HasSubstr(c.Local));
        EXPECT_THAT(r.Out, HasSubstr(c.CacheName));
    }
}

TEST_F(CliInspectTest, HostileBytesGiveValidJson)
{
    const char raw[] = "Subject: a\0b\x01\"\\\xff\nFrom: \"Q\\\"t\" <q@x>\nDate: 1 Jan 99999 00:00 +0000\n"
                       "Message-Id: <\"\x7f\xe9>\n";
    const std::string message(raw, sizeof raw - 1);
    const std::string file = Home / "hostile.eml";
    WriteFileBytes(file, message);
    for (const std::string& source : {file, std::string("-")}) {
        const auto r = Run({"inspect", source}, source == "-" ? message : std::string());
        ASSERT_EQ(r.Status, 0) << r.Err;
        EXPECT_TRUE(tarnwick::core::IsValidUtf8(r.Out));
        EXPECT_THAT(r.Out, HasSubstr(R"("Subject": "a b \"\\ÿ",)"));
        EXPECT_THAT(r.Out, HasSubstr(R"("FromText": "Q\"t <q@x>",)"));
        EXPECT_THAT(r.Out, HasSubstr("\"Sent\": null,\n  \"SentLocal\": null,"));
        EXPECT_THAT(r.Out, HasSubstr(R"("CacheName": "~60~34~127~195~169~62",)"));
        EXPECT_THAT(r.Out, HasSubstr("\"Size\": " + std::to_string(message.size()) + ","));
    }
}

TEST_F(CliInspectTest, FailuresGoToStandardErrorWithNonZeroStatus)
{
    struct
    {
        std::vector<std::string> Args;
        int Status;
        const char* Message;
    } cases[] = {
        {{"inspect", "/nonexistent/message.eml"}, 1, "Cannot read \"/nonexistent/message.eml\""},
        {{"inspect", "/"}, 1, "Cannot read \"/\""},
        {{"inspect"}, 2, "Usage: tarnwick-cli inspect FILE"},
        {{"inspect", "a", "b"}, 2, "inspect takes one message file."},
        {{"inspect", "--attachments", "/nonexistent/message.eml"},
         1,
         "\"/nonexistent/message.eml\" cannot be read: No such file or directory"},
        {{"inspect", "--attachments", "/"}, 1, "Cannot read \"/\""},
        {{"inspect", "--lookup", "--attachments", "a"}, 2, "--lookup or --attachments, not both"},
    };
    for (const auto& c : cases) {
        const auto r = Run(c.Args);
        EXPECT_EQ(r.Status, c.Status) << c.Message;
        EXPECT_THAT(r.Err, HasSubstr(c.Message));
        EXPECT_EQ(r.Out, "");
    }
    const auto help = Run({"--help"});
    EXPECT_THAT(help.Out, HasSubstr("inspect"));
}

TEST_F(CliInspectTest, ListsTheAttachmentsWithSafeNamesSizesAndDigests)
{
    const auto file = Run({"inspect", "--attachments", Fixture("mime/attach/MixedPdf.eml")});
    ASSERT_EQ(file.Status, 0) << file.Err;
    EXPECT_EQ(file.Out, "{\n  \"File\": \"" + Fixture("mime/attach/MixedPdf.eml") + R"(",
  "Attachments": [
    {
      "Name": "a.pdf",
      "SafeName": "a.pdf",
      "Position": 1,
      "Size": 17,
      "Sha256": "4de613423005e9105cf6bbf42966007dce346b3de91a53cc230be3695b42626b"
    }
  ]
}
)");

    // Standard input; hostile names keep their text in Name, and the decoded files and their
    // folder are gone when the command ends.
    const std::string message = "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                                "Content-Disposition: attachment; filename=\"../../run.sh\"\r\n\r\n"
                                "#!/bin/sh\r\n--b\r\n"
                                "Content-Disposition: attachment; filename=\".\x01\"\r\n\r\n--b--\r\n";
    std::filesystem::create_directory(Home / "run");
    const auto input = RunProcess(Cli, {"inspect", "--attachments", "-"}, message,
                                  {"TARNWICK_HOME=" + Home.Path(), "XDG_RUNTIME_DIR=" + (Home / "run")});
    ASSERT_EQ(input.Status, 0) << input.Err;
    EXPECT_EQ(input.Out, R"({
  "File": "-",
  "Attachments": [
    {
      "Name": "../../run.sh",
      "SafeName": "run.sh",
      "Position": 0,
      "Size": 11,
      "Sha256": "2cd69d6a23425ab27d67e60bcf0435bfd9eb8f7cac58fa275f6b489dcfe9ecc0"
    },
    {
      "Name": ".\u0001",
      "SafeName": "attachment-2",
      "Position": 1,
      "Size": 0,
      "Sha256": "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"
    }
  ]
}
)");
    EXPECT_TRUE(std::filesystem::is_empty(Home / "run"));
}

namespace {

struct TLookupCase
{
    std::string Name;
    std::string File;
    std::string Relays;         // the JSON array as printed
    std::string Classification; // with the default options
    std::string LookupPart;     // the lookup text: one answer per relay
    std::string Reason;         // the sentence a received message keeps
};
void PrintTo(const TLookupCase& c, std::ostream* os)
{
    *os << c.Name;
}

class CliInspectLookupTest : public CliInspectTest, public ::testing::WithParamInterface<TLookupCase>
{};

} // namespace

// The relays are always printed; --lookup asks the enabled spam database (a real dnsmasq) and
// classifies with the current lists and options.
TEST_P(CliInspectLookupTest, ClassifiesWithTheEnabledDatabases)
{
    const TLookupCase& c = GetParam();
    const std::string zone = "listing.tarnwick.test";
    tarnwick::test::TDnsmasq dns({"--local=/" + zone + "/", "--host-record=2.0.0.127." + zone + ",127.0.0.2",
                                  "--host-record=7.113.0.203." + zone + ",127.0.0.2"});
    std::filesystem::create_directories(Home / "data/Orvalent/Tarnwick");
    WriteFileBytes(Home / "data/Orvalent/Tarnwick/Databases.ini", "[Databases]\r\n" + zone + "=-1\r\n");

    const auto plain = Run({"inspect", Fixture(c.File)});
    ASSERT_EQ(plain.Status, 0) << plain.Err;
    EXPECT_THAT(plain.Out, HasSubstr("\"Relays\": " + c.Relays + "\n}"));
    EXPECT_THAT(plain.Out, ::testing::Not(HasSubstr("Classification")));

    const auto looked = RunProcess(Cli, {"inspect", Fixture(c.File), "--lookup"}, {},
                                   {"TARNWICK_HOME=" + Home.Path(), "TARNWICK_DNS_SERVERS=" + dns.Server()});
    ASSERT_EQ(looked.Status, 0) << looked.Err;
    EXPECT_THAT(looked.Out, HasSubstr("\"Servers\": [\n    \"" + zone + "\"\n  ]"));
    EXPECT_THAT(looked.Out, HasSubstr("\"Classification\": \"" + c.Classification + "\""));
    EXPECT_THAT(looked.Out, HasSubstr(c.LookupPart));
    EXPECT_THAT(looked.Out, HasSubstr("\"Reason\": \"" + c.Reason + "\""));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, CliInspectLookupTest,
    ::testing::Values(TLookupCase{"ListedRelay", "classify/ListedRelay.eml",
                                  "[\n    \"203.0.113.7\",\n    \"198.51.100.9\"\n  ]", "spam",
                                  "\"LookupText\": \"(1 ) (X ) \"",
                                  "The relay 203.0.113.7 is listed by listing.tarnwick.test "
                                  "(query 7.113.0.203.listing.tarnwick.test)."},
                      TLookupCase{"CleanRelay", "classify/CleanRelay.eml",
                                  "[\n    \"198.51.100.9\",\n    \"192.0.2.25\"\n  ]", "questionable",
                                  "\"LookupText\": \"(X ) (X ) \"",
                                  "The sender ann@friend.example is in neither list: the "
                                  "option for unknown senders marks it questionable."}),
    [](const auto& info) { return info.param.Name; });
