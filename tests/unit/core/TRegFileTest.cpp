#include "core/TRegFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/Errors.h"
#include "core/TextUtils.h"
#include "support/TTempHome.h"

using namespace tarnwick::core;
using tarnwick::test::Fixture;
using tarnwick::test::TTempHome;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class RegFileTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    std::shared_ptr<TSettingsStore> Store = std::make_shared<TSettingsStore>(Home / "settings.db");
    TRegistry Reg{Store};

    std::shared_ptr<TSettingsStore> FreshStore(const std::string& name)
    {
        return std::make_shared<TSettingsStore>(Home / name);
    }
};

} // namespace

TEST_F(RegFileTest, ExportWritesRegeditText)
{
    Reg.OpenKey("\\Software\\Orvalent\\Tarnwick\\Options", true);
    Reg.WriteString("CacheDir", "C:\\Program Files\\\"Tarnwick\"");
    Reg.WriteInteger("TimeOut", 3);
    Reg.WriteString("", "default");
    Reg.OpenKey("\\Software\\Orvalent\\Tarnwick\\Acounts\\QWERT\\Rules", true);
    Reg.OpenKey("\\Software\\Orvalent\\Tarnwick\\Acounts\\QWERT", true);
    Reg.WriteString("Host", "pop.example.org");

    const std::string expected =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Orvalent\\Tarnwick]\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Orvalent\\Tarnwick\\Acounts]\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Orvalent\\Tarnwick\\Acounts\\QWERT]\r\n"
        "\"Host\"=\"pop.example.org\"\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Orvalent\\Tarnwick\\Acounts\\QWERT\\Rules]\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Orvalent\\Tarnwick\\Options]\r\n"
        "\"CacheDir\"=\"C:\\\\Program Files\\\\\\\"Tarnwick\\\"\"\r\n"
        "\"TimeOut\"=dword:00000003\r\n"
        "@=\"default\"\r\n"
        "\r\n";
    EXPECT_EQ(TRegFile::Export(Reg, "HKEY_CURRENT_USER\\Software\\Orvalent\\Tarnwick"), expected);
    EXPECT_EQ(TRegFile::Export(Reg, "\\software\\orvalent\\tarnwick\\"), expected);
    EXPECT_THROW(TRegFile::Export(Reg, "\\Software\\Nobody"), TStoreError);
}

TEST_F(RegFileTest, EveryKindSurvivesARoundTrip)
{
    std::string allBytes;
    for (int b = 0; b < 300; ++b)
        allBytes += static_cast<char>(b % 256);
    const std::string scrambled("\x2C\x26\xC6\x23\xFF", 5); // not UTF-8, as a scrambled password is

    Reg.OpenKey("\\Software\\Orvalent\\Tarnwick\\Acounts\\ABCDE", true);
    Reg.WriteString("Display Name", "J\xC3\xBCrgen \xE2\x9C\x89 \xF0\x9F\x93\xA7");
    Reg.WriteString("Password", scrambled);
    Reg.WriteString("Multi", "line one\r\nline two\ttab");
    Reg.WriteString("Empty", "");
    Reg.WriteExpandString("Where", "%HOME%\\mail");
    Reg.WriteInteger("Negative", -2);
    Reg.WriteBinaryData("Criteria", allBytes);
    Reg.WriteBinaryData("NoBytes", "");
    Reg.WriteRawValue({"Multi SZ", 7, std::string("a\0\0\0\0\0", 6)});
    Reg.OpenKey("Rules\\000", true);

    const std::string text = TRegFile::Export(Reg, "\\Software");
    EXPECT_THAT(text, HasSubstr("\"Criteria\"=hex:00,01,02,03,"));
    EXPECT_THAT(text, HasSubstr(",\\\r\n  "));
    EXPECT_THAT(text, HasSubstr("\"Where\"=hex(2):25,00,48,00,"));
    EXPECT_THAT(text, HasSubstr("\"Negative\"=dword:fffffffe"));
    EXPECT_THAT(text, HasSubstr("\"Display Name\"=\"J\xC3\xBCrgen"));
    for (const auto& line : [&] {
             std::vector<std::string> lines;
             for (std::size_t p = 0, e; p < text.size(); p = e + 2)
                 lines.push_back(text.substr(p, (e = text.find("\r\n", p)) - p));
             return lines;
         }())
        EXPECT_LE(line.size(), 80u) << line;

    TRegistry copy(FreshStore("copy.db"));
    const auto result = TRegFile::Import(copy, text, "backup.reg");
    EXPECT_TRUE(result.Warnings.empty());
    ASSERT_TRUE(copy.OpenKey("\\Software\\Orvalent\\Tarnwick\\Acounts\\ABCDE", false));
    EXPECT_EQ(copy.ReadString("Display Name"), "J\xC3\xBCrgen \xE2\x9C\x89 \xF0\x9F\x93\xA7");
    EXPECT_EQ(copy.ReadString("Password"), scrambled);
    EXPECT_EQ(copy.ReadString("Multi"), "line one\r\nline two\ttab");
    EXPECT_EQ(copy.GetDataType("Empty"), TRegDataType::String);
    EXPECT_EQ(copy.ReadString("Empty"), "");
    EXPECT_EQ(copy.GetDataType("Where"), TRegDataType::ExpandString);
    EXPECT_EQ(copy.ReadString("Where"), "%HOME%\\mail");
    EXPECT_EQ(copy.ReadInteger("Negative"), -2);
    EXPECT_EQ(copy.ReadBinaryData("Criteria"), allBytes);
    EXPECT_EQ(copy.ReadBinaryData("NoBytes"), "");
    EXPECT_EQ(copy.GetDataType("Multi SZ"), TRegDataType::Unknown);
    EXPECT_EQ(copy.ReadBinaryData("Multi SZ"), std::string("a\0\0\0\0\0", 6));
    EXPECT_TRUE(copy.KeyExists("Rules\\000"));
    EXPECT_EQ(TRegFile::Export(copy, "\\Software"), text);
}

TEST_F(RegFileTest, ImportsWindowsUtf16ExportAndSkipsOtherHives)
{
    const auto result = TRegFile::ImportFile(Reg, Fixture("registry/WindowsExportUtf16.reg"));
    ASSERT_EQ(result.Warnings.size(), 1u);
    EXPECT_THAT(result.Warnings[0], HasSubstr("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\WAB\\DLLPath"));
    EXPECT_THAT(result.Warnings[0], HasSubstr("line 15"));
    EXPECT_FALSE(Reg.KeyExists("\\Software\\Microsoft\\WAB"));

    ASSERT_TRUE(Reg.OpenKey("\\Software\\Orvalent\\Tarnwick\\Options", false));
    EXPECT_EQ(Reg.ReadInteger("TimeOut"), 2);
    EXPECT_EQ(Reg.ReadString("CacheDir"), "C:\\Program Files\\Orvalent\\Tarnwick");
    EXPECT_EQ(Reg.ReadString("Confirm empty trash"), "1");
    ASSERT_TRUE(Reg.OpenKey("\\Identities\\{2D1A6B53-11F5-4B0E-9F64-0C4F5A7B2E11}", false));
    EXPECT_EQ(Reg.ReadString("Username"), "Main Identity \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(Reg.GetDataType("Store Root"), TRegDataType::ExpandString);
    EXPECT_EQ(Reg.ReadString("Store Root"), "%UserProfile%\\Outlook Express");
    EXPECT_EQ(
        Reg.ReadBinaryData("Criteria"),
        std::string("\x01\x00\x00\x00\x10\x00\x00\x00\x02\x00\x00\x00\x0a\x00\x00\x00\x0b\x00\x00\x00", 20));
}

TEST_F(RegFileTest, DeletionLinesRemoveKeysAndValues)
{
    Reg.OpenKey("\\Software\\Old\\Sub", true);
    Reg.OpenKey("\\Software\\Keep", true);
    Reg.WriteString("Drop", "x");
    Reg.WriteString("Stay", "y");
    TRegFile::Import(Reg,
                     "Windows Registry Editor Version 5.00\n\n"
                     "[-HKEY_CURRENT_USER\\Software\\Old]\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Keep]\n\"Drop\"=-\n",
                     "changes.reg");
    EXPECT_FALSE(Reg.KeyExists("\\Software\\Old"));
    ASSERT_TRUE(Reg.OpenKey("\\Software\\Keep", false));
    EXPECT_FALSE(Reg.ValueExists("Drop"));
    EXPECT_EQ(Reg.ReadString("Stay"), "y");
}

struct TMalformed
{
    const char* Name;
    std::string Text;
    int Line;
};

void PrintTo(const TMalformed& c, std::ostream* os)
{
    *os << c.Name;
}

class RegFileMalformed : public RegFileTest, public ::testing::WithParamInterface<TMalformed>
{};

TEST_P(RegFileMalformed, IsReportedWithItsLineAndImportsNothing)
{
    const auto& c = GetParam();
    Reg.OpenKey("\\Software\\Orvalent\\Tarnwick", true);
    Reg.WriteString("Before", "unchanged");
    try {
        TRegFile::Import(Reg, c.Text, "broken.reg");
        FAIL() << "imported";
    } catch (const TFileError& e) {
        EXPECT_THAT(e.what(), HasSubstr("broken.reg, line " + std::to_string(c.Line) + ":"));
    }
    EXPECT_FALSE(Reg.KeyExists("\\Software\\Orvalent\\Tarnwick\\New"));
    EXPECT_EQ(Reg.ReadString("Before"), "unchanged");
}

// Five good lines that would change the store, so that a broken sixth line shows nothing lands.
const std::string Head = "Windows Registry Editor Version 5.00\r\n\r\n"
                         "[HKEY_CURRENT_USER\\Software\\Orvalent\\Tarnwick\\New]\r\n"
                         "\"Good\"=\"value\"\r\n"
                         "[HKEY_CURRENT_USER\\Software\\Orvalent\\Tarnwick]\r\n\"Before\"=\"changed\"\r\n";

INSTANTIATE_TEST_SUITE_P(
    Lines, RegFileMalformed,
    ::testing::Values(
        TMalformed{"NoHeader", "[HKEY_CURRENT_USER\\Software\\New]\r\n", 1},
        TMalformed{"OldHeader", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\New]\r\n", 1},
        TMalformed{"Empty", "", 1},
        TMalformed{"UnclosedKey", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software",
                   3},
        TMalformed{"UnknownHive", "Windows Registry Editor Version 5.00\r\n[HKEY_NOWHERE\\X]\r\n", 2},
        TMalformed{"EmptyKeyName", "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A\\\\B]\r\n",
                   2},
        TMalformed{"ValueBeforeKey", "Windows Registry Editor Version 5.00\r\n\"A\"=\"b\"\r\n", 2},
        TMalformed{"UnclosedString", Head + "\"A\"=\"unclosed\r\n", 7},
        TMalformed{"BadDword", Head + "\"A\"=dword:12g4\r\n", 7},
        TMalformed{"LongDword", Head + "\"A\"=dword:123456789\r\n", 7},
        TMalformed{"BadHex", Head + "\"A\"=hex:01,zz\r\n", 7},
        TMalformed{"OddHexDigit", Head + "\"A\"=hex:01,2\r\n", 7},
        TMalformed{"BadKind", Head + "\"A\"=hex(q):01\r\n", 7},
        TMalformed{"NoEquals", Head + "\"A\" \"b\"\r\n", 7},
        TMalformed{"Stray", Head + "what is this\r\n", 7},
        TMalformed{"BadUtf16", Head + "\"A\"=hex(1):41\r\n", 7},
        TMalformed{"TrailingText", Head + "\"A\"=\"b\" more\r\n", 7},
        TMalformed{"BrokenContinuation", Head + "\"A\"=hex:01,02,\\\r\n  zz\r\n", 7}),
    [](const auto& info) { return std::string(info.param.Name); });
