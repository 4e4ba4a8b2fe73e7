#include "classify/TAddressLists.h"

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
