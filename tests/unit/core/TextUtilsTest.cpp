#include "core/TextUtils.h"

#include <gtest/gtest.h>

using namespace tarnwick::core;

TEST(TextUtils, Utf16RoundTripKeepsTextsThatAreNotUtf8)
{
    const std::string texts[] = {"", "plain",
                                 "gr\xC3\xBC\xC3\x9F"
                                 "e",
                                 "\xF0\x9F\x93\xA7 mail", std::string("\x2C\x26\xC6\x23\xFF\x80", 6)};
    for (const auto& text : texts) {
        const auto back = Utf16LeToUtf8(Utf8ToUtf16Le(text));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, text);
    }
    EXPECT_EQ(Utf8ToUtf16Le("A\xC3\xA9"), std::string("A\0\xE9\0", 4));
}

TEST(TextUtils, Utf16RejectsBrokenInput)
{
    EXPECT_FALSE(Utf16LeToUtf8(std::string("A\0B", 3)).has_value());     // odd length
    EXPECT_FALSE(Utf16LeToUtf8(std::string("\x00\xD8", 2)).has_value()); // high surrogate alone
    EXPECT_FALSE(Utf16LeToUtf8(std::string("\x00\xDC", 2)).has_value()); // low surrogate, not an escape
}

TEST(TextUtils, ParseInt32TakesWholeDecimalNumbersOnly)
{
    struct
    {
        const char* Text;
        std::optional<std::int32_t> Value;
    } cases[] = {{"0", 0},           {"1", 1},  {"-1", -1}, {"+7", 7},  {"2147483647", 2147483647},
                 {"2147483648", {}}, {"", {}},  {" 1", {}}, {"1 ", {}}, {"01", 1},
                 {"1x", {}},         {"x", {}}, {"-", {}},  {"++1", {}}};
    for (const auto& c : cases)
        EXPECT_EQ(ParseInt32(c.Text), c.Value) << '"' << c.Text << '"';
}

TEST(TextUtils, FoldCaseFoldsUnicodeAndAsciiOnlyForBrokenText)
{
    EXPECT_EQ(FoldCase("AcOunTS"), "acounts");
    EXPECT_EQ(FoldCase("\xC3\x84RGER"), "\xC3\xA4rger");
    EXPECT_EQ(FoldCase(std::string("AB\xFF", 3)), std::string("ab\xFF", 3));
    EXPECT_EQ(AsciiLower("\xC3\x84Z"), "\xC3\x84z");
}
