#include "retrieval/Pop3Reply.h"

#include <gtest/gtest.h>

#include "retrieval/Pop3Errors.h"

using namespace tarnwick::retrieval;

namespace {

struct TStatusCase
{
    const char* Name;
    std::string Line;
    bool Recognised;
    bool Ok;
    std::string Text;
};

void PrintTo(const TStatusCase& c, std::ostream* os)
{
    *os << c.Name;
}

class StatusLineTest : public ::testing::TestWithParam<TStatusCase>
{};

TEST_P(StatusLineTest, ClassifiesTheStatusWord)
{
    const TStatusCase& c = GetParam();
    if (!c.Recognised) {
        try {
            ParseStatusLine(c.Line);
            FAIL() << "no error for " << c.Line;
        } catch (const TUnrecognizedReplyError& e) {
            EXPECT_EQ(e.what(), "Unrecognized POP3 Response Header:\n\"" + c.Line + "\"");
        }
        return;
    }
    const TPop3Reply reply = ParseStatusLine(c.Line);
    EXPECT_EQ(reply.Ok, c.Ok);
    EXPECT_EQ(reply.Text, c.Text);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, StatusLineTest,
    ::testing::Values(TStatusCase{"OkWithText", "+OK 2 320", true, true, "2 320"},
                      TStatusCase{"OkAlone", "+OK", true, true, ""},
                      TStatusCase{"LowerCaseOk", "+ok fine", true, true, "fine"},
                      TStatusCase{"MixedCaseErr", "-eRr no such message", true, false, "no such message"},
                      TStatusCase{"ErrKeepsInnerBlanks", "-ERR  two  blanks", true, false, " two  blanks"},
                      TStatusCase{"OkGluedToText", "+OKAY", false, false, ""},
                      TStatusCase{"Garbage", "HELLO there", false, false, ""},
                      TStatusCase{"Empty", "", false, false, ""},
                      TStatusCase{"PlusAlone", "+ continue", false, false, ""},
                      TStatusCase{"LeadingBlank", " +OK", false, false, ""}),
    [](const auto& info) { return info.param.Name; });

TEST(UnstuffLineTest, RestoresStuffedDotsAndEndsAtTheLoneDot)
{
    EXPECT_FALSE(UnstuffLine(".").has_value());
    EXPECT_EQ(UnstuffLine(".."), ".");
    EXPECT_EQ(UnstuffLine("..text"), ".text");
    EXPECT_EQ(UnstuffLine("...."), "...");
    EXPECT_EQ(UnstuffLine(".text"), ".text"); // an unstuffed dot line from a careless server stays
    EXPECT_EQ(UnstuffLine(""), "");
    EXPECT_EQ(UnstuffLine(". "), ". ");
}

// The same bytes give the same lines however the network splits them.
TEST(LineSplitterTest, GivesTheSameLinesForEveryChunking)
{
    const std::string stream = "+OK\r\nline two\n\r\n\rmid\r\nlast\r\n";
    const std::vector<std::string> expected = {"+OK", "line two", "", "\rmid", "last"};
    for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk) {
        TLineSplitter splitter(100);
        std::vector<std::string> lines;
        std::string line;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            splitter.Feed(stream.data() + at, std::min(chunk, stream.size() - at));
            while (splitter.Next(line) == TLineSplitter::TResult::Line)
                lines.push_back(line);
        }
        EXPECT_EQ(lines, expected) << "chunk " << chunk;
        EXPECT_EQ(splitter.Buffered(), 0u);
    }
}

TEST(LineSplitterTest, ReportsALineBeyondTheBoundWithoutHoldingMore)
{
    TLineSplitter splitter(8);
    std::string line;
    splitter.Feed("12345678\r\n", 10); // exactly the bound, CR LF not counted
    ASSERT_EQ(splitter.Next(line), TLineSplitter::TResult::Line);
    EXPECT_EQ(line, "12345678");
    splitter.Feed("12345", 5);
    EXPECT_EQ(splitter.Next(line), TLineSplitter::TResult::NeedMore);
    splitter.Feed("6789", 4);
    EXPECT_EQ(splitter.Next(line), TLineSplitter::TResult::TooLong);
    TLineSplitter complete(8);
    complete.Feed("123456789\n", 10);
    EXPECT_EQ(complete.Next(line), TLineSplitter::TResult::TooLong);
}

} // namespace
