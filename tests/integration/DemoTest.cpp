// scripts/demo and its mailbox generator: the generated messages land in the views they are made
// for, and the demo's whole set-up (Dovecot, dnsmasq block list, private home) receives them with
// the classification their senders and relays call for.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "accounts/TUser.h"
#include "core/TRegistry.h"
#include "core/TSettingsStore.h"
#include "retrieval/TDecodeMail.h"
#include "retrieval/TParsedHeader.h"
#include "support/TProcess.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "views/TViewFill.h"

using namespace tarnwick;
using namespace tarnwick::test;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string SourceDir = TARNWICK_SOURCE_DIR;

struct TManifestRow
{
    std::string File;
    std::string Reason;
    std::set<std::string> Views;
    std::string Subject;
};

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    return parts;
}

std::vector<TManifestRow> ReadManifest(const std::string& folder)
{
    std::vector<TManifestRow> rows;
    std::ifstream in(folder + "/manifest.tsv");
    std::string line;
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = Split(line, '\t');
        if (fields.size() != 4) {
            ADD_FAILURE() << "manifest line: " << line;
            continue;
        }
        TManifestRow row{fields[0], fields[1], {}, fields[3]};
        if (fields[2] != "-")
            for (const std::string& view : Split(fields[2], ','))
                row.Views.insert(view);
        rows.push_back(std::move(row));
    }
    return rows;
}

TProcessResult Generate(const std::string& out, int messages, int seed)
{
    return RunProcess("/usr/bin/env",
                      {"python3", SourceDir + "/scripts/demo-mailbox.py", out, "--messages",
                       std::to_string(messages), "--seed", std::to_string(seed), "--date", "2026-12-10"});
}

std::string StripMark(const std::string& subject)
{
    for (const std::string mark : {" [ Spam ] ", " [ Questionable ] "})
        if (subject.starts_with(mark))
            return subject.substr(mark.size());
    return subject;
}

struct TMailboxCase
{
    int Messages;
    int Seed;
};

void PrintTo(const TMailboxCase& c, std::ostream* out)
{
    *out << c.Messages << " messages, seed " << c.Seed;
}

class DemoMailboxTest : public ::testing::TestWithParam<TMailboxCase>
{};

// Each message is read as a receive would read it, and every advanced view, with its default
// settings and the generated character set, selects exactly the messages made for it.
TEST_P(DemoMailboxTest, EveryAdvancedViewSelectsTheMessagesMadeForIt)
{
    TTempHome home(false);
    const std::string out = home / "mailbox";
    const TProcessResult generated = Generate(out, GetParam().Messages, GetParam().Seed);
    ASSERT_EQ(generated.Status, 0) << generated.Err;
    const std::vector<TManifestRow> manifest = ReadManifest(out);
    ASSERT_EQ(manifest.size(), static_cast<std::size_t>(GetParam().Messages));

    accounts::TUser user;
    retrieval::TDecodeMail decoder;
    std::map<std::string, std::set<std::int32_t>> expected;
    std::set<std::string> reasons;
    for (std::size_t i = 0; i < manifest.size(); ++i) {
        const std::string text = ReadFileBytes(out + "/Maildir/cur/" + manifest[i].File);
        const retrieval::TParsedHeader parsed = retrieval::ParseMessageText(text);
        const auto number = static_cast<std::int32_t>(i + 1);
        accounts::TMailMessage& record = decoder.Decode(parsed, static_cast<std::int32_t>(text.size()),
                                                        number, retrieval::CacheNameOf(parsed));
        // Encoded words in every charset decode to the text they were made from.
        EXPECT_EQ(record.Subject, manifest[i].Subject) << manifest[i].File;
        if (manifest[i].Views.contains("low")) {
            EXPECT_EQ(record.Priority, 4) << manifest[i].File;
        }
        user.Mails.Add(record);
        for (const std::string& view : manifest[i].Views)
            expected[view].insert(number);
        reasons.insert(manifest[i].Reason);
    }
    EXPECT_EQ(reasons, (std::set<std::string>{"black", "blocklisted", "implausible", "unknown", "white"}));

    core::TRegistry registry(std::make_shared<core::TSettingsStore>(home / "settings.db"));
    TScriptedPrompter prompter;
    views::TViewInputs inputs;
    inputs.Registry = &registry;
    inputs.Prompter = &prompter;
    inputs.DataFolder = out; // holds the generated Characters.dat
    inputs.Match.CacheFolder = home / "cache";

    const struct
    {
        int Position;
        const char* View;
    } views[] = {{8, "duplicates"}, {9, "attachments"}, {10, "high"},
                 {11, "foreign"},   {12, "delivery"},   {13, "large"}};
    for (const auto& view : views) {
        const views::TFillResult result = views::FillView(user, view.Position, inputs);
        EXPECT_EQ(result.End, views::TFillEnd::Completed) << view.View;
        std::set<std::int32_t> shown;
        for (const views::TRowKey& row : result.Rows)
            shown.insert(row.Number);
        EXPECT_FALSE(shown.empty()) << view.View;
        EXPECT_EQ(shown, expected[view.View]) << view.View;
    }
    EXPECT_FALSE(expected["low"].empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, DemoMailboxTest,
                         ::testing::Values(TMailboxCase{300, 9}, TMailboxCase{40, 2026}),
                         [](const auto& info) {
                             return "Messages" + std::to_string(info.param.Messages) + "Seed" +
                                    std::to_string(info.param.Seed);
                         });

TEST(DemoMailboxSeedTest, TheSameSeedGivesTheSameMessages)
{
    TTempHome home(false);
    ASSERT_EQ(Generate(home / "a", 60, 4).Status, 0);
    ASSERT_EQ(Generate(home / "b", 60, 4).Status, 0);
    ASSERT_EQ(Generate(home / "c", 60, 5).Status, 0);
    EXPECT_EQ(ReadFileBytes(home / "a/manifest.tsv"), ReadFileBytes(home / "b/manifest.tsv"));
    EXPECT_NE(ReadFileBytes(home / "a/manifest.tsv"), ReadFileBytes(home / "c/manifest.tsv"));
    for (const auto& entry : std::filesystem::directory_iterator(home / "a/Maildir/cur"))
        EXPECT_EQ(ReadFileBytes(entry.path().string()),
                  ReadFileBytes(home / "b/Maildir/cur/" + entry.path().filename().string()));
}

struct TDemoCase
{
    const char* Name;
    std::vector<std::string> DemoArgs;
    std::vector<std::string> ReceiveArgs;
    const char* Listed; // classification of black-listed, block-listed and implausible senders
    bool Keep;
};

void PrintTo(const TDemoCase& c, std::ostream* out)
{
    *out << c.Name;
}

class DemoTest : public ::testing::TestWithParam<TDemoCase>
{};

// The demo set up headless: every message is listed in server order, friends are good, unknown
// senders questionable, and listed ones spam or trash as the options say.
TEST_P(DemoTest, ReceiveListsTheExpectedMix)
{
    const TDemoCase& c = GetParam();
    const int messages = 150;
    const int seed = 5;
    TTempHome home(false);
    const std::string dir = home / "demo";
    std::vector<std::string> args{"--bin",  TARNWICK_BIN_DIR,     "--messages", std::to_string(messages),
                                  "--seed", std::to_string(seed), "--dir",      dir,
                                  "--cli"};
    args.insert(args.begin(), c.DemoArgs.begin(), c.DemoArgs.end());
    if (c.Keep)
        args.insert(args.begin(), "--keep");
    if (!c.ReceiveArgs.empty()) {
        args.push_back("--");
        args.insert(args.end(), c.ReceiveArgs.begin(), c.ReceiveArgs.end());
    }
    const TProcessResult demo = RunProcess(SourceDir + "/scripts/demo", args);
    ASSERT_EQ(demo.Status, 0) << demo.Err;

    // The same seed gives the same messages, so a second generation tells what the demo served.
    ASSERT_EQ(Generate(home / "expected", messages, seed).Status, 0);
    const std::vector<TManifestRow> manifest = ReadManifest(home / "expected");
    ASSERT_EQ(manifest.size(), static_cast<std::size_t>(messages));

    const std::vector<std::string> lines = Split(demo.Out, '\n');
    ASSERT_EQ(lines.size(), manifest.size()) << demo.Out;
    std::map<std::string, int> counts;
    int listed = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string> fields = Split(lines[i], '\t');
        ASSERT_EQ(fields.size(), 5u) << lines[i];
        EXPECT_EQ(fields[0], std::to_string(i + 1));
        const std::string& reason = manifest[i].Reason;
        const std::string wanted = reason == "white"     ? "good"
                                   : reason == "unknown" ? "questionable"
                                                         : c.Listed;
        listed += wanted == c.Listed;
        EXPECT_EQ(fields[1], wanted) << lines[i] << " (" << reason << ")";
        EXPECT_EQ(StripMark(fields[3]), manifest[i].Subject) << lines[i];
        ++counts[fields[1]];
    }
    EXPECT_GT(counts["good"], 0);
    EXPECT_GT(counts["questionable"], 0);
    EXPECT_GT(counts[c.Listed], 0);

    // The block list answered its self-test (no server was skipped) and nothing else went wrong.
    EXPECT_THAT(demo.Err, Not(HasSubstr("does not answer correctly")));
    EXPECT_THAT(demo.Err, Not(HasSubstr("rror")));
    if (std::find(c.ReceiveArgs.begin(), c.ReceiveArgs.end(), "--delete-trashed") != c.ReceiveArgs.end()) {
        EXPECT_THAT(demo.Err,
                    HasSubstr(std::to_string(listed) + " trashed message(s) deleted on the server"));
    }

    // The servers are stopped; the folder stays only when asked to.
    EXPECT_FALSE(std::filesystem::exists(dir + "/dovecot.state"));
    EXPECT_EQ(std::filesystem::exists(dir), c.Keep);
    if (c.Keep) {
        EXPECT_THAT(ReadFileBytes(dir + "/dnsmasq.log"), HasSubstr("2.0.0.127.dnsbl.tarnwick-demo.test"));
        EXPECT_TRUE(std::filesystem::exists(dir + "/home/settings.db"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, DemoTest,
    ::testing::Values(TDemoCase{"MarkedAsSpam", {}, {}, "spam", true},
                      TDemoCase{
                          "TrashedAndDeleted", {"--trash-listed"}, {"--delete-trashed"}, "trash", false}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
