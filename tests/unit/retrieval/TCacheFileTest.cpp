#include "retrieval/TCacheFile.h"

#include <filesystem>
#include <iterator>
#include <optional>
#include <sstream>

#include <gtest/gtest.h>

#include "retrieval/TParsedHeader.h"
#include "support/TTempHome.h"

using namespace tarnwick::retrieval;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;

namespace {

// Two messages without a Message-Id, from the same sender on the same day: one cache name.
const std::vector<std::string> Lunch = {"From: Bob Smith <bob@example.com>", "Subject: lunch",
                                        "Date: Thu, 01 Jan 2004 12:00:00 +0000"};
const std::vector<std::string> Dinner = {"From: Bob Smith <bob@example.com>", "Subject: dinner",
                                         "Date: Thu, 01 Jan 2004 12:00:00 +0000"};
// A resent copy: the same Message-Id, another Received line.
const std::vector<std::string> Sent = {"Received: from a.example.com by mx.example.org",
                                       "Message-Id: <1@example.com>", "Subject: news"};
const std::vector<std::string> Resent = {"Received: from b.example.com by mx.example.org",
                                         "Message-Id: <1@example.com>", "Subject: news"};
const std::vector<std::string> Folded = {"Subject: a long", "\tsubject", "From: bob@example.com"};

std::string Text(const std::vector<std::string>& lines, const char* lineEnd)
{
    std::string text;
    for (const auto& line : lines)
        text += line + lineEnd;
    return text;
}

struct TCase
{
    const char* Name;
    std::vector<std::string> Record; // the record's header lines
    std::optional<std::string> File; // the cache file's bytes; none: no file
    bool Holds;
};

class CacheFileTest : public ::testing::TestWithParam<TCase>
{
protected:
    TTempHome Home{false};
};

} // namespace

TEST(CacheFileNames, TheFixturesCollide)
{
    // What the cases below rely on: these pairs share a cache file.
    EXPECT_EQ(CacheNameOf(ParseHeader(Lunch, false)), CacheNameOf(ParseHeader(Dinner, false)));
    EXPECT_EQ(CacheNameOf(ParseHeader(Sent, false)), CacheNameOf(ParseHeader(Resent, false)));
}

TEST_P(CacheFileTest, FileHoldsTheRecordsMessageOnlyWithItsHeader)
{
    const TCase& c = GetParam();
    const std::string path = Home / "message.eml";
    if (c.File)
        WriteFileBytes(path, *c.File);
    EXPECT_EQ(CacheFileHolds(c.Record, path), c.Holds);
    std::optional<std::ifstream> in = OpenCacheFile(c.Record, path);
    ASSERT_EQ(in.has_value(), c.Holds);
    if (in) {
        // The stream opened is the whole file from its start.
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(*in), std::istreambuf_iterator<char>()),
                  *c.File);
    }
    // The same answer from the text in memory and from a stream.
    if (c.File) {
        EXPECT_EQ(HeaderPartMatches(c.Record, std::string_view(*c.File)), c.Holds);
        std::istringstream stream(*c.File);
        EXPECT_EQ(HeaderPartMatches(c.Record, stream), c.Holds);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CacheFileTest,
    ::testing::Values(
        TCase{"SameHeaderCrLf", Lunch, Text(Lunch, "\r\n") + "\r\nlet's eat\r\n", true},
        TCase{"SameHeaderLf", Lunch, Text(Lunch, "\n") + "\nlet's eat\n", true},
        TCase{"MixedLineEnds", Lunch,
              "From: Bob Smith <bob@example.com>\nSubject: lunch\r\n" + Lunch[2] + "\n\r\n", true},
        TCase{"FoldedLinesArePhysicalLines", Folded, Text(Folded, "\r\n") + "\r\nbody\r\n", true},
        TCase{"HeaderOnlyWithoutEmptyLine", Lunch, Text(Lunch, "\r\n"), true},
        TCase{"LastLineWithoutLineEnd", Lunch, Text(Lunch, "\r\n").substr(0, Text(Lunch, "\r\n").size() - 2),
              true},
        TCase{"OtherMessageSameNameWithoutMessageId", Dinner, Text(Lunch, "\r\n") + "\r\nlet's eat\r\n",
              false},
        TCase{"ResentCopySameMessageId", Resent, Text(Sent, "\r\n") + "\r\nnews\r\n", false},
        TCase{"NoEmptyLineAndMoreHeaderLines", Lunch, Text(Lunch, "\r\n") + "X-Extra: 1\r\nbody\r\n", false},
        TCase{"FileHeaderShorter", Lunch, Text({Lunch[0], Lunch[1]}, "\r\n") + "\r\n", false},
        TCase{"RecordHeaderShorter", {Lunch[0], Lunch[1]}, Text(Lunch, "\r\n") + "\r\n", false},
        TCase{"LineLongerByABlank", Lunch, Text({Lunch[0], Lunch[1] + " ", Lunch[2]}, "\r\n") + "\r\n",
              false},
        TCase{"BodyStartsAtOnce", Lunch, "\r\n" + Text(Lunch, "\r\n"), false},
        TCase{"EmptyFile", Lunch, "", false}, TCase{"MissingFile", Lunch, std::nullopt, false},
        TCase{"RecordWithoutHeaderLines", {}, "\r\nbody\r\n", false},
        TCase{"RecordWithAnEmptyLine", {Lunch[0], ""}, Lunch[0] + "\r\n\r\n", false}),
    [](const ::testing::TestParamInfo<TCase>& info) { return info.param.Name; });

TEST(CacheFile, APathThatIsNoFileHoldsNothing)
{
    TTempHome home(false);
    std::filesystem::create_directories(home / "folder.eml");
    EXPECT_FALSE(CacheFileHolds(Lunch, home / "folder.eml"));
    EXPECT_FALSE(CacheFileHolds(Lunch, home / "absent/message.eml"));
}

namespace {

// An endless input: `prefix`, then `repeat` over and over. Counts the bytes handed out, one at a
// time, so that a test sees how far a reader went.
class TEndlessBuffer : public std::streambuf
{
public:
    TEndlessBuffer(std::string prefix, std::string repeat)
        : Prefix_(std::move(prefix))
        , Repeat_(std::move(repeat))
    {}

    std::size_t Given() const { return Given_; }

protected:
    int_type underflow() override
    {
        Current_ =
            Given_ < Prefix_.size() ? Prefix_[Given_] : Repeat_[(Given_ - Prefix_.size()) % Repeat_.size()];
        ++Given_;
        setg(&Current_, &Current_, &Current_ + 1);
        return traits_type::to_int_type(Current_);
    }

private:
    std::string Prefix_;
    std::string Repeat_;
    std::size_t Given_ = 0;
    char Current_ = 0;
};

} // namespace

TEST(CacheFile, ReadingStopsWithinTheRecordsHeader)
{
    const std::size_t headerBytes = Text(Lunch, "\r\n").size();
    struct
    {
        const char* Name;
        std::string Prefix;
        std::string Repeat;
    } cases[] = {
        {"one endless line", "", "x"},
        {"an endless first line that starts right", Lunch[0], "x"},
        {"the header, then endless header lines", Text(Lunch, "\r\n"), "X-Junk: 1\r\n"},
        {"the header, then an endless line", Text(Lunch, "\r\n"), "y"},
        {"endless blanks at the end of the last line", Text(Lunch, "\r\n").substr(0, headerBytes - 2), " "},
    };
    for (const auto& c : cases) {
        TEndlessBuffer buffer(c.Prefix, c.Repeat);
        std::istream in(&buffer);
        EXPECT_FALSE(HeaderPartMatches(Lunch, in)) << c.Name;
        EXPECT_LE(buffer.Given(), headerBytes + 3) << c.Name;
    }
}
