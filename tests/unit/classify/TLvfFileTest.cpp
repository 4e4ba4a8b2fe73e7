#include "classify/TLvfFile.h"

#include <cstdio>

#include <gtest/gtest.h>

#include "core/Errors.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"

using namespace tarnwick::classify;
using tarnwick::test::ReadFileBytes;
using tarnwick::test::TScriptedPrompter;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (const int v : values)
        out += static_cast<char>(v);
    return out;
}

// The two-row file: rows "a" and "bc", both disabled. "Pelk" sums to 396, so the first byte turns
// right by (80 + 396) mod 8 = 4 bits and the second left by (101 + 396) mod 8 = 1 bit.
const std::string TwoRowFile = "LVF" + Bytes({2, 0,                         //
                                              0, 0, 0, 0, 0, 0, 1, 0, 0x16, //
                                              0, 0, 0, 0, 0, 0, 2, 0, 0x26, 0xC6});

} // namespace

TEST(LvfFileTest, ByteLayouts)
{
    EXPECT_EQ(WriteLvf({}), std::string("LVF\0\0", 5));
    const std::string two = WriteLvf({{"a", false, {}}, {"bc", false, {}}});
    EXPECT_EQ(two.size(), 24u);
    EXPECT_EQ(two, TwoRowFile);

    // A sub-item is stored as it is, after the address; an enabled row carries 1.
    EXPECT_EQ(WriteLvf({{"a", true, {"xy"}}}),
              "LVF" + Bytes({1, 0, 1, 0, 1, 0, 0, 0, 1, 0, 0x16, 2, 0}) + "xy");
}

TEST(LvfFileTest, RoundTripKeepsTextsAndCheckMarks)
{
    const std::vector<TAddressRow> rows{{"odd@x.org", true, {}},
                                        {"even@x.org", false, {}},
                                        {"", true, {}},
                                        {"\xC3\xBC"
                                         "ber@x.org",
                                         true,
                                         {"column", ""}},
                                        {std::string(MaxListText, 'q'), false, {}}};
    const TLvfReadResult read = ReadLvf(WriteLvf(rows));
    EXPECT_EQ(read.Status, TLvfReadResult::TStatus::Ok);
    EXPECT_EQ(read.Rows, rows);
}

TEST(LvfFileTest, MalformedFilesNeverReadPastTheirEnd)
{
    using S = TLvfReadResult::TStatus;
    // The check mark counts when its lowest byte is not zero.
    const std::string highBytesOnly = "LVF" + Bytes({1, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0x16});
    const std::string lowByte = "LVF" + Bytes({1, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0x16});
    // "a", a zero byte and "b" scrambled: the address ends at the zero byte; a sub-item too.
    const std::string zeroInside =
        "LVF" + Bytes({1, 0, 1, 0, 1, 0, 0, 0, 3, 0, 0x16, 0, 0x31, 3, 0}) + std::string("x\0y", 3);
    const struct
    {
        const char* Name;
        std::string Bytes;
        S Status;
        std::vector<TAddressRow> Rows;
    } cases[] = {
        {"empty file", "", S::BadSignature, {}},
        {"short signature", "LV", S::BadSignature, {}},
        {"wrong signature", "LVX" + Bytes({0, 0}), S::BadSignature, {}},
        {"lower-case signature", "lvf" + Bytes({0, 0}), S::BadSignature, {}},
        {"no row count", "LVF", S::Truncated, {}},
        {"half a row count", "LVF" + Bytes({1}), S::Truncated, {}},
        {"more rows announced than present",
         TwoRowFile.substr(0, 5) + TwoRowFile.substr(5, 9) + TwoRowFile.substr(14, 9),
         S::Truncated,
         {{"a", false, {}}}},
        {"row count 65535 and one row",
         "LVF" + Bytes({0xFF, 0xFF}) + TwoRowFile.substr(5, 9),
         S::Truncated,
         {{"a", false, {}}}},
        {"address longer than the file",
         "LVF" + Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x16}),
         S::Truncated,
         {}},
        {"sub-item count larger than the file",
         "LVF" + Bytes({1, 0, 0xFF, 0xFF, 1, 0, 0, 0, 1, 0, 0x16, 1, 0}) + "z",
         S::Truncated,
         {}},
        {"check mark in the high bytes only", highBytesOnly, S::Ok, {{"a", false, {}}}},
        {"check mark 7", lowByte, S::Ok, {{"a", true, {}}}},
        {"zero bytes inside texts", zeroInside, S::Ok, {{"a", true, {"x"}}}},
        {"bytes after the last row are ignored",
         TwoRowFile + "junk",
         S::Ok,
         {{"a", false, {}}, {"bc", false, {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TLvfReadResult read = ReadLvf(c.Bytes);
        EXPECT_EQ(read.Status, c.Status);
        EXPECT_EQ(read.Rows, c.Rows);
    }
    // Every prefix of a valid file is read without overrunning (the sanitizer builds watch).
    const std::string file = WriteLvf({{"first@x.org", true, {"sub"}}, {"second@x.org", false, {}}});
    for (std::size_t n = 0; n < file.size(); ++n)
        EXPECT_NE(ReadLvf(file.substr(0, n)).Status, TLvfReadResult::TStatus::Ok) << n;
}

TEST(LvfFileTest, WindowsTextsAreReadAsWindows1252)
{
    // "M\xFCller" scrambled as the Windows program wrote it in its ANSI code page.
    const std::string stored = WriteLvf({{"M\xFCller", true, {}}});
    EXPECT_EQ(ReadLvf(stored).Rows.at(0).Address, "M\xC3\xBCller");
}

TEST(LvfFileTest, WriteRefusesWhatTheFormatCannotHold)
{
    EXPECT_THROW(WriteLvf(std::vector<TAddressRow>(MaxListRows + 1)), tarnwick::core::TFileError);
    EXPECT_THROW(WriteLvf({{std::string(MaxListText + 1, 'x'), true, {}}}), tarnwick::core::TFileError);
}

TEST(LvfFileTest, LoadFromFileReportsThroughThePrompter)
{
    TTempHome home;
    const std::string path = home / "BlackList.scl";
    const TAddressList before{TListKind::Black, {{"keep@x.org", true, {}}}};
    const struct
    {
        const char* Name;
        const char* Content; // nullptr: no file
        TLoadOutcome Outcome;
        std::string Message;
        std::vector<TAddressRow> Rows;
    } cases[] = {
        {"missing", nullptr, TLoadOutcome::Missing, "File \"BlackList.scl\" does not exist!", before.Rows},
        {"wrong signature", "XYZ\0\0", TLoadOutcome::Corrupted, "\"BlackList.scl\" was corupted!",
         before.Rows},
        {"truncated",
         "LVF\2\0\0\0\0\0\0\0\1\0\x16",
         TLoadOutcome::Truncated,
         "\"BlackList.scl\" ends before all its rows; the 1 address(es) read before the end were kept.",
         {{"a", false, {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::remove(path.c_str());
        if (c.Content)
            WriteFileBytes(path, std::string(c.Content, c.Name == std::string("truncated") ? 14 : 5));
        TAddressList list = before;
        TScriptedPrompter prompter;
        EXPECT_EQ(LoadFromFile(list, path, prompter), c.Outcome);
        ASSERT_EQ(prompter.Log.size(), 1u);
        EXPECT_EQ(prompter.Log[0].Kind, tarnwick::core::TMessageKind::Error);
        EXPECT_EQ(prompter.Log[0].Text, c.Message);
        EXPECT_EQ(list.Rows, c.Rows);
    }
    TScriptedPrompter prompter;
    TAddressList list = before;
    std::remove(path.c_str());
    LoadFromFile(list, path, prompter, ListControlMessages);
    WriteFileBytes(path, "nope!");
    LoadFromFile(list, path, prompter, ListControlMessages);
    EXPECT_EQ(prompter.Log.at(1).Text, "\"BlackList.scl\" is not a ListView file!");
}

TEST(LvfFileTest, SaveReplacesTheFileAndReportsFailures)
{
    TTempHome home;
    const std::string path = home / "WhiteList.scl";
    WriteFileBytes(path, "old content that is longer than the new one");
    SaveToFile({TListKind::White, {{"a", false, {}}, {"bc", false, {}}}}, path);
    EXPECT_EQ(ReadFileBytes(path), TwoRowFile);
    EXPECT_THROW(SaveToFile({}, home / "missing-folder/WhiteList.scl"), tarnwick::core::TFileError);
}
