// Exchanging the classification prefix of a subject when a sender moves between the lists.
#include <gtest/gtest.h>

#include "views/ClassMark.h"

using tarnwick::views::ReplaceClassPrefix;

namespace {

struct TPrefixCase
{
    const char* Name;
    const char* Subject;
    const char* NewPrefix;
    const char* Expected;
};

void PrintTo(const TPrefixCase& c, std::ostream* os)
{
    *os << c.Name;
}

class ReplaceClassPrefixTest : public ::testing::TestWithParam<TPrefixCase>
{};

TEST_P(ReplaceClassPrefixTest, GivesTheSubjectWithTheNewPrefix)
{
    const TPrefixCase& c = GetParam();
    EXPECT_EQ(ReplaceClassPrefix(c.Subject, c.NewPrefix), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceClassPrefixTest,
    ::testing::Values(
        TPrefixCase{"LowerCaseQuestionableToSpam", " [ questionable ] Hi", " [ Spam ] ", " [ Spam ] Hi"},
        TPrefixCase{"LowerCaseQuestionableToNone", " [ questionable ] Hi", "", "Hi"},
        TPrefixCase{"SpamToNone", " [ Spam ] Offer", "", "Offer"},
        TPrefixCase{"MixedCaseSpamToSpam", " [ sPaM ] Offer", " [ Spam ] ", " [ Spam ] Offer"},
        TPrefixCase{"PlainSubjectGetsThePrefix", "Hello", " [ Spam ] ", " [ Spam ] Hello"},
        TPrefixCase{"PlainSubjectWithoutPrefixStays", "Hello", "", "Hello"},
        // At most one prefix goes: the second one is part of the subject.
        TPrefixCase{"OnlyOnePrefixRemoved", " [ Questionable ]  [ Spam ] Hi", "", " [ Spam ] Hi"},
        TPrefixCase{"SpamBeforeQuestionable", " [ Spam ]  [ Questionable ] Hi", " [ Spam ] ",
                    " [ Spam ]  [ Questionable ] Hi"},
        // A prefix that is not at the very start, or lacks its blanks, is no prefix.
        TPrefixCase{"PrefixNotAtStart", "Re:  [ Spam ] Hi", "", "Re:  [ Spam ] Hi"},
        TPrefixCase{"PrefixWithoutBlanks", "[ Spam ] Hi", " [ Spam ] ", " [ Spam ] [ Spam ] Hi"},
        TPrefixCase{"TruncatedPrefix", " [ Spam ]", "", " [ Spam ]"},
        TPrefixCase{"PrefixOnly", " [ QUESTIONABLE ] ", " [ Spam ] ", " [ Spam ] "},
        TPrefixCase{"EmptySubject", "", " [ Spam ] ", " [ Spam ] "}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
