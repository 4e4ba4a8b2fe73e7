#include "import/TWab.h"

#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/Errors.h"
#include "import/TVCard.h"
#include "support/TTempHome.h"

using namespace tarnwick::import;
using tarnwick::core::TEnvironment;
using tarnwick::core::TFileError;
using tarnwick::test::Fixture;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;

namespace fs = std::filesystem;

namespace {

TWabRow Person(int row, std::string name, std::string email)
{
    return {std::move(name), std::move(email), row, false, {}};
}

TWabRow Group(int row, std::string name, std::vector<std::string> members)
{
    return {std::move(name), "", row, true, std::move(members)};
}

std::string Card(const std::string& body)
{
    return "BEGIN:VCARD\r\nVERSION:3.0\r\n" + body + "END:VCARD\r\n";
}

} // namespace

namespace tarnwick::import {
void PrintTo(const TWabRow& row, std::ostream* out)
{
    *out << "{" << row.RowNumber << " \"" << row.DisplayName << "\" <" << row.Email << ">"
         << (row.IsGroup ? " group" : "");
    for (const auto& member : row.Members)
        *out << " " << member;
    *out << "}";
}
} // namespace tarnwick::import

// Every fixture read as the windows list it: the names, the preferred address, the row numbers
// (other kinds of entry and unreadable cards take none) and the group members.
TEST(WabTest, FixturesListTheirPeopleAndGroups)
{
    struct TCase
    {
        const char* Path;
        std::vector<TWabRow> Rows;
        std::size_t Skipped;
    };
    const TCase cases[] = {
        {"vcard/v30.vcf",
         {Person(0, "Ann, the ;Bold\\One", "ann@example.org"),
          Person(1, "Dr. Bob Q. Jones Jr.", "bob@example.org"),
          Person(2, "only.address@example.org", "only.address@example.org"),
          Person(3, "Nobody Reachable", "")},
         0},
        {"vcard/v40.vcf",
         {Person(0, "Carla Díaz", "carla@example.net"), Person(1, "Dan", "dan@example.net"),
          Group(2, "Friends", {"carla@example.net", "dan@example.net", "eve@example.net"})},
         0},
        {"vcard/v21-qp.vcf",
         {Person(0, "Paweł Łódź", "pawel@example.pl"), Person(1, "Renée€", "renee@example.fr"),
          Person(2, "Soft end", "soft@example.org")},
         0},
        {"vcard/folded.vcf",
         {Person(0, "Folded Name Here", "folded@example.org"),
          Person(1, "Line Break Name", "crlf@example.org")},
         0},
        {"vcard/broken.vcf",
         {Person(0, "First Good", "first@example.org"), Person(1, "Second Good", "second@example.org"),
          Person(2, "Third Good", "third@example.org")},
         4},
        {"vcard/empty.vcf", {}, 0},
        {"vcard/folder",
         {Person(0, "Apple Person", "apple@example.com"),
          Group(1, "Team", {"apple@example.com", "nested@example.com"}),
          Person(2, "Nested Person", "nested@example.com")},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        TWab wab;
        std::vector<TWabRow> rows{Person(9, "stale", "stale@example.org")};
        wab.ListIntoRows(Fixture(c.Path), rows);
        EXPECT_EQ(rows, c.Rows);
        EXPECT_EQ(wab.SkippedCards(), c.Skipped);
        EXPECT_EQ(wab.Path(), Fixture(c.Path));
    }
}

TEST(WabTest, StringFormIsNameEqualsAddress)
{
    TWab wab;
    std::vector<std::string> lines{"stale="};
    wab.ListIntoStrings(Fixture("vcard/v30.vcf"), lines);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Ann, the ;Bold\\One=ann@example.org", "Dr. Bob Q. Jones Jr.=bob@example.org",
                         "only.address@example.org=only.address@example.org", "Nobody Reachable="}));
    wab.ListIntoStrings(Fixture("vcard/v40.vcf"), lines);
    EXPECT_EQ(lines.back(), "Friends=");
}

// What cannot be read is an error naming the file and the reason, and the address book open
// before stays as it was.
TEST(WabTest, UnreadableFilesAreErrorsThatKeepTheOpenBook)
{
    TTempHome home(false);
    const std::string large = home / "large.vcf";
    WriteFileBytes(large, Card("FN:Big\r\n"));
    fs::resize_file(large, MaxAddressBookFile + 1);
    fs::create_directories(home / "folder/deep");
    WriteFileBytes(home / "folder/deep/big.vcf", "");
    fs::resize_file(home / "folder/deep/big.vcf", MaxAddressBookFile + 1);
    const std::string fifo = home / "fifo.vcf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    struct TCase
    {
        std::string Path;
        std::string Named; // the file the message names
        std::string Reason;
    };
    const TCase cases[] = {
        {home / "missing.vcf", home / "missing.vcf", "No such file or directory"},
        {large, large, "it is larger than 64 MB"},
        {home / "folder", home / "folder/deep/big.vcf", "it is larger than 64 MB"},
        {fifo, fifo, "it is not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        TWab wab;
        wab.Open(Fixture("vcard/v30.vcf"));
        try {
            wab.Open(c.Path);
            ADD_FAILURE() << "no error";
        } catch (const TFileError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "The address book \"" + c.Named + "\" cannot be read: " + c.Reason + ".");
        }
        EXPECT_EQ(wab.Path(), Fixture("vcard/v30.vcf"));
        EXPECT_EQ(wab.Rows().size(), 4u);
    }

    // No address book at all lists nothing, without an error.
    TWab wab;
    std::vector<TWabRow> rows{Person(0, "stale", "")};
    wab.ListIntoRows("", rows);
    EXPECT_TRUE(rows.empty());
}

// Cards past the bounds are left out and counted; the cards around them are read.
TEST(WabTest, BoundsSkipOversizedCards)
{
    const std::string good = Card("FN:Good\r\nEMAIL:good@example.org\r\n");
    std::string manyLines;
    for (std::size_t i = 0; i <= MaxVCardProperties; ++i)
        manyLines += "NOTE:x\r\n";
    // A line folded past the bound, and a quoted-printable value of soft breaks past it.
    std::string longFolded = "NOTE:x";
    for (std::size_t unfolded = longFolded.size(); unfolded <= MaxVCardLine; unfolded += 64)
        longFolded += "\r\n " + std::string(64, 'x');
    std::string longSoft = "NOTE;QUOTED-PRINTABLE:";
    for (std::size_t unfolded = longSoft.size(); unfolded <= MaxVCardLine; unfolded += 3)
        longSoft += "=41=\r\n";
    longSoft += "A\r\n";

    for (const std::string& body : {manyLines, longFolded + "\r\n", longSoft}) {
        SCOPED_TRACE(body.substr(0, 30));
        const TVCardText text = ParseVCards(good + Card(body) + good);
        ASSERT_EQ(text.Cards.size(), 2u);
        EXPECT_EQ(text.Cards[1].FormattedName, "Good");
        EXPECT_EQ(text.Skipped, 1u);
    }
    const TVCardText capped = ParseVCards(good + good + good, 2);
    EXPECT_EQ(capped.Cards.size(), 2u);
    EXPECT_EQ(capped.Skipped, 1u);
}

TEST(WabTest, CharsetsBecomeUtf8)
{
    struct TCase
    {
        std::string Bytes;
        const char* Charset;
        const char* Utf8;
    };
    const TCase cases[] = {
        {"caf\xC3\xA9", "", "café"},              // valid UTF-8 without a charset stays
        {"caf\xE9", "", "café"},                  // else it is windows-1252
        {"\x80 caf\xE9", "ISO-8859-1", "€ café"}, // Latin-1 read as windows-1252, as writers mean it
        {"\xA3\xF3"
         "d\xBC",
         "iso-8859-2", "Łódź"},
        {"\x82\xA0", "Shift_JIS", "あ"},
        {"\xE9t\xE9", "no-such-charset", "été"},
        {"\xFF\xFE", "UTF-8", "ÿþ"}, // declared UTF-8 that is not
        {"\x82", "Shift_JIS", "‚"},  // a cut sequence: windows-1252
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Charset);
        EXPECT_EQ(CharsetToUtf8(c.Bytes, c.Charset), c.Utf8);
    }
}

// Properties are found in any letter case and behind group prefixes, parameters in the forms of
// every version, and groups keep the members they name.
TEST(WabTest, PropertyForms)
{
    const TVCardText text = ParseVCards(Card("item1.fn;LANGUAGE=\"de:at\":Grüß Gott\r\n"
                                             "ITEM2.Email;type=\"work,pref\":pref@example.org\r\n"
                                             "Email;type=home:home@example.org\r\n"
                                             "UID:URN:UUID:ABC\r\n"
                                             "X-ADDRESSBOOKSERVER-KIND:GROUP\r\n"
                                             "x-addressbookserver-member:urn:uuid:abc\r\n"
                                             "N:;;;;\r\n"));
    ASSERT_EQ(text.Cards.size(), 1u);
    const TVCard& card = text.Cards[0];
    EXPECT_EQ(card.FormattedName, "Grüß Gott");
    EXPECT_EQ(card.Emails, (std::vector<std::string>{"pref@example.org", "home@example.org"}));
    EXPECT_EQ(card.Uid, "abc");
    EXPECT_EQ(card.Kind, TVCard::TKind::Group);
    EXPECT_EQ(card.Members, (std::vector<std::string>{"urn:uuid:abc"}));
    EXPECT_EQ(card.ComposedName, "");
}

// Members belong to groups only, and a mailto: member whose escapes make no one-line text is left
// out (the fuzzer found a person card with MEMBER lines listing members).
TEST(WabTest, MembersOnlyOfGroupsAndOnlyAddresses)
{
    const std::string members = "MEMBER:mailto:a%40example.org\r\n"
                                "MEMBER:mailto:bad%0Aline@example.org\r\n"
                                "MEMBER:mailto:bad%FF@example.org\r\n"
                                "MEMBER:mailto:%41%4\r\n";
    const TVCardText text =
        ParseVCards(Card("FN:Person\r\n" + members) + Card("KIND:group\r\nFN:Group\r\n" + members));
    EXPECT_EQ(WabRowsOf(text.Cards),
              (std::vector<TWabRow>{Person(0, "Person", ""), Group(1, "Group", {"a@example.org", "A%4"})}));
}

TEST(WabTest, AddressBookPathSearchesTheUsualPlaces)
{
    TTempHome home(false);
    TEnvironment env;
    env.Home = home / "home";
    fs::create_directories(env.Home);
    EXPECT_EQ(AddressBookPath("", env), "");
    EXPECT_EQ(AddressBookPath("  /my/book.vcf ", env), "/my/book.vcf");

    // Each place found when it exists, the earlier ones first.
    fs::create_directories(env.Home + "/.contacts");
    EXPECT_EQ(AddressBookPath("", env), env.Home + "/.contacts");
    fs::create_directories(env.Home + "/.local/share/evolution/addressbook");
    EXPECT_EQ(AddressBookPath("", env), env.Home + "/.local/share/evolution/addressbook");
    fs::create_directories(env.Home + "/.local/share/contacts");
    EXPECT_EQ(AddressBookPath("", env), env.Home + "/.local/share/contacts");

    // $XDG_DATA_HOME replaces ~/.local/share for the first place only.
    env.XdgDataHome = home / "data";
    EXPECT_EQ(AddressBookPath("", env), env.Home + "/.local/share/evolution/addressbook");
    fs::create_directories(env.XdgDataHome + "/contacts");
    EXPECT_EQ(AddressBookPath("", env), env.XdgDataHome + "/contacts");
    EXPECT_EQ(AddressBookPath("/set", env), "/set");
}
