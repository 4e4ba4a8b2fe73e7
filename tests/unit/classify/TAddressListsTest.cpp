#include "classify/TAddressLists.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "classify/TLvfFile.h"
#include "core/Errors.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick::classify;
using tarnwick::test::TScriptedPrompter;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;

TEST(AddressListsTest, LoadAndSaveTheDataFolderFiles)
{
    TTempHome home;
    const std::string folder = home.Path() + "/";
    TAddressLists lists;
    TScriptedPrompter quiet;
    EXPECT_TRUE(lists.Load(folder, quiet));
    EXPECT_TRUE(quiet.Log.empty()) << "missing files give empty lists without a message";

    // A white list written in another order comes back sorted.
    WriteFileBytes(folder + WhiteListFileName, WriteLvf({{"zoe@x.org", true, {}}, {"amy@x.org", false, {}}}));
    WriteFileBytes(folder + BlackListFileName, "garbage");
    TScriptedPrompter prompter;
    EXPECT_FALSE(lists.Load(folder, prompter));
    EXPECT_EQ(tarnwick::test::ReadFileBytes(folder + BlackListFileName + ".damaged"), "garbage")
        << "the damaged file is kept before the list is saved over it";
    ASSERT_EQ(prompter.Log.size(), 1u);
    EXPECT_EQ(prompter.Log[0].Text, "\"BlackList.scl\" was corupted!");
    const TListsState loaded = lists.Snapshot();
    EXPECT_TRUE(loaded.Black->Rows.empty());
    EXPECT_EQ(loaded.White->Rows,
              (std::vector<TAddressRow>{{"amy@x.org", false, {}}, {"zoe@x.org", true, {}}}));

    lists.Change(TListKind::Black, [](TAddressList& black, TAddressList& white) {
        MoveToList(black, white, "ZOE@x.org");
        AddListed(black, "spam@x.org");
    });
    EXPECT_EQ(loaded.White->Rows.size(), 2u) << "a snapshot handed out never changes";
    lists.Save(folder);

    TAddressLists again;
    again.Load(folder, quiet);
    EXPECT_EQ(again.Black()->Rows,
              (std::vector<TAddressRow>{{"ZOE@x.org", true, {}}, {"spam@x.org", true, {}}}));
    EXPECT_EQ(again.White()->Rows, (std::vector<TAddressRow>{{"amy@x.org", false, {}}}));

    EXPECT_THROW(lists.Save(home / "no/such/folder/"), tarnwick::core::TFileError);
    EXPECT_EQ(lists.Black()->Rows.size(), 2u) << "a failed save keeps the rows";
}

TEST(AddressListsTest, AFailedChangePublishesNothing)
{
    TAddressLists lists;
    EXPECT_THROW(lists.Change(TListKind::White,
                              [](TAddressList& white, TAddressList&) {
                                  AddListed(white, "a@x.org");
                                  throw std::runtime_error("stop");
                              }),
                 std::runtime_error);
    EXPECT_TRUE(lists.White()->Rows.empty());
}

namespace {

// Rows written compactly: "a@x.org" is an enabled row, "!a@x.org" a disabled one.
std::vector<TAddressRow> Rows(std::initializer_list<const char*> texts)
{
    std::vector<TAddressRow> rows;
    for (std::string_view text : texts) {
        const bool off = text.starts_with('!');
        rows.push_back({std::string(off ? text.substr(1) : text), !off, {}});
    }
    return rows;
}

std::vector<TAddressRow> FileRows(const std::string& path)
{
    const TLvfReadResult read = ReadLvf(tarnwick::test::ReadFileBytes(path));
    EXPECT_EQ(read.Status, TLvfReadResult::TStatus::Ok) << path;
    return read.Rows;
}

} // namespace

// The merge of a save: what this session changed since the file was read (base to mine) is
// applied to the file as it is now (theirs), whatever another program changed there.
TEST(AddressListsTest, MergeKeepsBothSidesChanges)
{
    const struct
    {
        const char* Name;
        std::vector<TAddressRow> Base, Mine, Theirs, Merged;
    } cases[] = {
        {"nothing changed here: theirs as it is", Rows({"a@x", "b@x"}), Rows({"a@x", "b@x"}),
         Rows({"b@x", "!c@x"}), Rows({"b@x", "!c@x"})},
        {"both added: theirs' order, mine's additions after it in mine's order", Rows({"a@x"}),
         Rows({"m2@x", "a@x", "m1@x"}), Rows({"a@x", "t@x"}), Rows({"a@x", "t@x", "m2@x", "m1@x"})},
        {"both added one address in other letter case: once, as theirs wrote it", Rows({}), Rows({"New@X"}),
         Rows({"new@x."}), Rows({"new@x."})},
        {"removed here", Rows({"a@x", "b@x"}), Rows({"b@x"}), Rows({"a@x", "b@x", "t@x"}),
         Rows({"b@x", "t@x"})},
        {"removed there stays removed", Rows({"a@x", "b@x"}), Rows({"a@x", "b@x"}), Rows({"b@x"}),
         Rows({"b@x"})},
        {"removed on both sides", Rows({"a@x", "b@x"}), Rows({"b@x"}), Rows({"b@x"}), Rows({"b@x"})},
        {"removed here, ticked off there: removed", Rows({"a@x"}), Rows({}), Rows({"!a@x"}), Rows({})},
        {"ticked off here, the rest as theirs", Rows({"a@x", "b@x"}), Rows({"!a@x", "b@x"}),
         Rows({"b@x", "a@x", "t@x"}), Rows({"b@x", "!a@x", "t@x"})},
        {"ticked here and there, different rows", Rows({"a@x", "!b@x"}), Rows({"!a@x", "!b@x"}),
         Rows({"a@x", "b@x"}), Rows({"!a@x", "b@x"})},
        {"ticked on there only: theirs' tick stays", Rows({"!a@x"}), Rows({"!a@x", "m@x"}), Rows({"a@x"}),
         Rows({"a@x", "m@x"})},
        {"ticked on here, removed there: stays removed", Rows({"!a@x"}), Rows({"a@x"}), Rows({}), Rows({})},
        {"edited here to another address: the old one goes, the new one is added", Rows({"a@x", "b@x"}),
         Rows({"c@x", "b@x"}), Rows({"a@x", "b@x", "t@x"}), Rows({"b@x", "t@x", "c@x"})},
        {"edited here in letter case only: the text changes in place", Rows({"a@x", "b@x"}),
         Rows({"A@X", "b@x"}), Rows({"b@x", "!a@x"}), Rows({"b@x", "!A@X"})},
        {"an edit made a duplicate: counted, not multiplied", Rows({"a@x", "b@x"}), Rows({"a@x", "a@x"}),
         Rows({"a@x", "b@x", "t@x"}), Rows({"a@x", "t@x", "a@x"})},
        {"the same duplicate made on both sides: kept once", Rows({"a@x"}), Rows({"a@x", "A@x"}),
         Rows({"a@x", "a@X"}), Rows({"a@x", "a@X"})},
        {"a duplicate removed here: one row of it goes", Rows({"a@x", "A@x"}), Rows({"a@x"}),
         Rows({"a@x", "A@x", "t@x"}), Rows({"a@x", "t@x"})},
        {"no base (never read): mine's rows join theirs", Rows({}), Rows({"a@x", "m@x"}),
         Rows({"a@x", "t@x"}), Rows({"a@x", "t@x", "m@x"})},
        {"the file is gone: mine's changes on nothing", Rows({"a@x", "b@x"}), Rows({"a@x", "m@x"}), Rows({}),
         Rows({"m@x"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(MergeRows(c.Base, c.Mine, c.Theirs), c.Merged);
    }
}

// Two programs with the same list files, each changing its copy and saving: both changes end in the
// file, and each program, once it saved, holds the other's too.
TEST(AddressListsTest, TwoProgramsSavingOneFolderKeepBothChanges)
{
    using TEdit = std::function<void(TAddressList & black, TAddressList & white)>;
    const struct
    {
        const char* Name;
        std::vector<TAddressRow> Black, White; // on disk at the start
        TEdit A, B;
        std::vector<TAddressRow> WantBlack, WantWhite;
    } cases[] = {
        {"each adds one", Rows({"old@x"}), Rows({}),
         [](TAddressList& black, TAddressList&) { AddListed(black, "a@x"); },
         [](TAddressList& black, TAddressList&) { AddListed(black, "b@x"); }, Rows({"old@x", "a@x", "b@x"}),
         Rows({})},
        {"each removes one", Rows({"a@x", "b@x", "c@x"}), Rows({}),
         [](TAddressList& black, TAddressList&) { RemoveListed(black, "a@x"); },
         [](TAddressList& black, TAddressList&) { RemoveListed(black, "c@x"); }, Rows({"b@x"}), Rows({})},
        {"each ticks one off", Rows({"a@x", "b@x"}), Rows({}),
         [](TAddressList& black, TAddressList&) { black.Rows[0].Enabled = false; },
         [](TAddressList& black, TAddressList&) { black.Rows[1].Enabled = false; }, Rows({"!a@x", "!b@x"}),
         Rows({})},
        {"one moves an address to the white list, the other adds to it", Rows({"a@x"}), Rows({"w@x"}),
         [](TAddressList& black, TAddressList& white) { MoveToList(white, black, "a@x"); },
         [](TAddressList&, TAddressList& white) { AddListed(white, "b@x"); }, Rows({}),
         Rows({"a@x", "b@x", "w@x"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempHome home;
        const std::string folder = home.Path() + "/";
        WriteFileBytes(folder + BlackListFileName, WriteLvf(c.Black));
        WriteFileBytes(folder + WhiteListFileName, WriteLvf(c.White));
        TScriptedPrompter quiet;
        TAddressLists a, b;
        a.Load(folder, quiet);
        b.Load(folder, quiet);
        a.Change(TListKind::Black, [&](TAddressList& black, TAddressList& white) { c.A(black, white); });
        b.Change(TListKind::Black, [&](TAddressList& black, TAddressList& white) { c.B(black, white); });
        EXPECT_TRUE(a.Save(folder).empty());
        EXPECT_TRUE(b.Save(folder).empty());
        EXPECT_EQ(FileRows(folder + BlackListFileName), c.WantBlack);
        EXPECT_EQ(FileRows(folder + WhiteListFileName), c.WantWhite);
        EXPECT_EQ(b.Black()->Rows, c.WantBlack) << "the saver holds what it wrote";
        EXPECT_EQ(b.White()->Rows, c.WantWhite);
        // A, saving again without a change, writes B's changes over nothing and gets them.
        a.Save(folder);
        EXPECT_EQ(FileRows(folder + BlackListFileName), c.WantBlack);
        EXPECT_EQ(FileRows(folder + WhiteListFileName), c.WantWhite);
        EXPECT_EQ(a.Black()->Rows, c.WantBlack);
        EXPECT_EQ(a.White()->Rows, c.WantWhite);
        for (const TAddressRow& row : c.WantBlack)
            EXPECT_TRUE(a.Snapshot().Listed(TListKind::Black, row.Address)) << "indexed after the merge";
    }
}

// A save that cannot write leaves the old file whole and the lists in memory as they were, says
// which file and why, and the next save writes everything.
TEST(AddressListsTest, AFailedWriteKeepsTheOldFileAndTheChange)
{
    TTempHome home;
    const std::string folder = home.Path() + "/";
    const std::string path = folder + BlackListFileName;
    const std::string before = WriteLvf(Rows({"old@x"}));
    WriteFileBytes(path, before);
    TScriptedPrompter quiet;
    TAddressLists lists;
    lists.Load(folder, quiet);
    lists.Change(TListKind::Black, [](TAddressList& black, TAddressList&) { AddListed(black, "new@x"); });

    // A folder where the temporary file goes.
    std::filesystem::create_directories(path + ".tmp/inside");
    try {
        lists.Save(folder, TListKind::Black);
        ADD_FAILURE() << "the save did not fail";
    } catch (const tarnwick::core::TFileError& e) {
        EXPECT_NE(std::string(e.what()).find("\"" + path + "\""), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("Is a directory"), std::string::npos) << e.what();
    }
    EXPECT_EQ(tarnwick::test::ReadFileBytes(path), before);
    EXPECT_EQ(lists.Black()->Rows, Rows({"old@x", "new@x"}));
    EXPECT_TRUE(std::filesystem::is_directory(path + ".tmp/inside")) << "what was in the way is not ours";

    std::filesystem::remove_all(path + ".tmp");
    lists.Save(folder, TListKind::Black);
    EXPECT_EQ(FileRows(path), Rows({"old@x", "new@x"}));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

// While another holder has a list file's lock, a save waits for it; one that waits too long fails
// naming the lock and writes nothing.
TEST(AddressListsTest, ASaveWaitsForTheLockOfTheFile)
{
    TTempHome home;
    const std::string folder = home.Path() + "/";
    const std::string path = folder + BlackListFileName;
    TScriptedPrompter quiet;
    TAddressLists other, lists;
    other.Load(folder, quiet);
    lists.Load(folder, quiet);
    other.Change(TListKind::Black, [](TAddressList& black, TAddressList&) { AddListed(black, "other@x"); });
    lists.Change(TListKind::Black, [](TAddressList& black, TAddressList&) { AddListed(black, "mine@x"); });

    {
        const TListFileLock held(path, std::chrono::milliseconds(0));
        lists.SetLockTimeout(std::chrono::milliseconds(100));
        try {
            lists.Save(folder, TListKind::Black);
            ADD_FAILURE() << "the save did not wait for the lock";
        } catch (const tarnwick::core::TFileError& e) {
            EXPECT_NE(std::string(e.what()).find(path + ".lock"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("another program keeps it locked"), std::string::npos);
        }
        EXPECT_FALSE(std::filesystem::exists(path));
    }

    // The other program's save holds the lock for a while (simulated), this one waits and merges.
    lists.SetLockTimeout(TAddressLists::DefaultLockTimeout);
    std::optional<TListFileLock> held(std::in_place, path, std::chrono::milliseconds(0));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        held.reset();
    });
    const auto started = std::chrono::steady_clock::now();
    lists.Save(folder, TListKind::Black);
    release.join();
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(250));
    other.Save(folder, TListKind::Black);
    EXPECT_EQ(FileRows(path), Rows({"mine@x", "other@x"}));
}

// A file damaged after it was read is kept aside before the merged list is written over it, and
// the save says so; an unchanged list leaves a damaged file alone.
TEST(AddressListsTest, ASaveKeepsADamagedFileAside)
{
    const struct
    {
        const char* Name;
        std::string Damaged;
        std::vector<TAddressRow> Want; // the rows read from it, and this session's addition
        const char* Note;
    } cases[] = {
        {"not a list file", "garbage", Rows({"mine@x"}), "not a list file"},
        {"cut short", WriteLvf(Rows({"kept@x", "lost@x"})).substr(0, 5 + 8 + 6 + 3),
         Rows({"kept@x", "mine@x"}), "it ends after 1 row(s)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempHome home;
        const std::string folder = home.Path() + "/";
        const std::string path = folder + BlackListFileName;
        TScriptedPrompter quiet;
        TAddressLists lists;
        lists.Load(folder, quiet);
        WriteFileBytes(path, c.Damaged);
        EXPECT_TRUE(lists.Save(folder, TListKind::Black).empty()) << "nothing to write";
        EXPECT_EQ(tarnwick::test::ReadFileBytes(path), c.Damaged);

        lists.Change(TListKind::Black,
                     [](TAddressList& black, TAddressList&) { AddListed(black, "mine@x"); });
        const std::vector<std::string> notes = lists.Save(folder, TListKind::Black);
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_NE(notes[0].find(c.Note), std::string::npos) << notes[0];
        EXPECT_NE(notes[0].find(path + ".damaged"), std::string::npos) << notes[0];
        EXPECT_EQ(tarnwick::test::ReadFileBytes(path + ".damaged"), c.Damaged);
        EXPECT_EQ(FileRows(path), c.Want);
    }
}
