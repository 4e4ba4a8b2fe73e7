#include "core/TIniFile.h"

#include <gtest/gtest.h>

using tarnwick::core::TIniFile;

TEST(IniFileTest, SetValueChangesInPlaceAndAppendsAfterTheLastEntry)
{
    TIniFile ini = TIniFile::Parse("top=1\n[A]\n; note\nx=1\ny=2\n\n[B]\nz=3\n");
    ini.SetValue("a", "X", "9");
    ini.SetValue("A", "new", "4");
    ini.SetValue("C", "c", "5");
    EXPECT_EQ(ini.Text(), "top=1\n[A]\n; note\nX=9\ny=2\nnew=4\n\n[B]\nz=3\n[C]\nc=5\n");
    EXPECT_TRUE(ini.Entries("Top").empty()) << "lines before the first section belong to none";
}

TEST(IniFileTest, TextComesBackAsItWasRead)
{
    for (const char* text : {"", "[S]\r\nk = v \r\njunk\r\n", "no section\n[S]\n\n=x\n[T\n", "[S]\nk=v"}) {
        const std::string expected = std::string(text) + (std::string(text).ends_with("k=v") ? "\n" : "");
        EXPECT_EQ(TIniFile::Parse(text).Text(), expected);
    }
}

// Found by the fuzzer: a stray carriage return before a line feed in a file with LF line ends
// turned into a CRLF line end when written, and the text changed on every round.
TEST(IniFileTest, StrayCarriageReturnsBelongToTheLineEnd)
{
    const std::string once = TIniFile::Parse("\n\n\r\r").Text();
    EXPECT_EQ(once, "\n\n\n");
    EXPECT_EQ(TIniFile::Parse(once).Text(), once);
    EXPECT_EQ(TIniFile::Parse("[S]\r\r\nk=v\r\n").Entries("S").at(0).Value, "v");
}
