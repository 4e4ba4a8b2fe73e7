#include "core/ScrambleText.h"

#include <gtest/gtest.h>

using tarnwick::core::ScrambleText;
using tarnwick::core::TScrambleDirection;

TEST(ScrambleText, StoresPasswordBytesByKeyRotation)
{
    // "Vorn" sums to 421; positions 1..4 rotate by 3, 4, 7 and 3: odd right, even left.
    EXPECT_EQ(ScrambleText("abcd", "Vorn", TScrambleDirection::Store), "\x2C\x26\xC6\x23");
    EXPECT_EQ(ScrambleText("\x2C\x26\xC6\x23", "Vorn", TScrambleDirection::Load), "abcd");
}

TEST(ScrambleText, EmptyKeyRotatesByPosition)
{
    // Without a key, k is the position itself: 1 -> right by 1, 2 -> left by 2.
    EXPECT_EQ(ScrambleText("\x02\x01", "", TScrambleDirection::Store), std::string("\x01\x04", 2));
}

struct TRoundTrip
{
    const char* Name;
    std::string Text;
    std::string Key;
};

void PrintTo(const TRoundTrip& c, std::ostream* os)
{
    *os << c.Name;
}

class ScrambleRoundTrip : public ::testing::TestWithParam<TRoundTrip>
{};

TEST_P(ScrambleRoundTrip, LoadUndoesStoreAndKeepsLengthAndZeroBytes)
{
    const auto& c = GetParam();
    const std::string stored = ScrambleText(c.Text, c.Key, TScrambleDirection::Store);
    ASSERT_EQ(stored.size(), c.Text.size());
    for (std::size_t i = 0; i < c.Text.size(); ++i)
        EXPECT_EQ(stored[i] == '\0', c.Text[i] == '\0') << "byte " << i;
    EXPECT_EQ(ScrambleText(stored, c.Key, TScrambleDirection::Load), c.Text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ScrambleRoundTrip,
    ::testing::Values(TRoundTrip{"Empty", "", "Vorn"}, TRoundTrip{"OddLength", "secret1", "Vorn"},
                      TRoundTrip{"EvenLength", "secret12", "Vorn"},
                      TRoundTrip{"ListKey", "user@example.org", "Pelk"}, TRoundTrip{"EmptyKey", "odd", ""},
                      TRoundTrip{"Utf8AndZero", std::string("p\xC3\xA4ss\0w", 7), "Vorn"},
                      TRoundTrip{"AllBytes",
                                 [] {
                                     std::string s;
                                     for (int b = 0; b < 256; ++b)
                                         s += static_cast<char>(b);
                                     return s;
                                 }(),
                                 "Vorn"}),
    [](const auto& info) { return std::string(info.param.Name); });
