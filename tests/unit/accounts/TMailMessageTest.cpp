#include "accounts/TMailMessage.h"

#include <cstdlib>
#include <ctime>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace tarnwick::accounts;
using ::testing::ElementsAreArray;

namespace {

TMailMessage Record(int number, int priority, bool attachments, const char* from, const char* subject,
                    std::int64_t sent, int size, const char* to)
{
    TMailMessage m;
    m.Number = number;
    m.Priority = priority;
    m.HasAttachments = attachments;
    m.FromName = from;
    m.Subject = subject;
    m.Sent = sent;
    m.Size = size;
    m.ToText = to;
    return m;
}

std::vector<int> Numbers(const TMails& mails)
{
    std::vector<int> numbers;
    for (std::size_t i = 0; i < mails.Count(); ++i)
        numbers.push_back(mails.At(i) ? mails.At(i)->Number : 0);
    return numbers;
}

// Five records whose keys give a different order for every code; no ties within a key.
TMails SampleMails()
{
    TMails mails;
    mails.Add(Record(1, 5, true, "carol", "Zebra", 3000, 500, "b@x"));
    mails.Add(Record(2, 6, false, "Alice", "apple", 1000, 70000, "D@x"));
    mails.Add(Record(3, 4, false, "bob", "Mango", 5000, 20, "a@x"));
    mails.Add(Record(4, 6, true, "_under", "[ Spam ] x", 4000, 1024, "c@x"));
    mails.Add(Record(5, 5, false, "Dave", "banana", 2000, 1023, "e@x"));
    return mails;
}

} // namespace

TEST(TMails, SortsByEveryCodeBothWays)
{
    struct
    {
        int Code;
        std::vector<int> Order;
    } cases[] = {
        {SortFrom, {2, 3, 1, 5, 4}}, // letters fold to upper case, so "_" (0x5F) sorts after them
        {-SortFrom, {4, 5, 1, 3, 2}},    {SortSubject, {2, 5, 3, 1, 4}}, // "[" (0x5B) sorts after "Z"
        {-SortSubject, {4, 1, 3, 5, 2}}, {SortSent, {2, 5, 1, 4, 3}},    {-SortSent, {3, 4, 1, 5, 2}},
        {SortSize, {3, 1, 5, 4, 2}},     {-SortSize, {2, 4, 5, 1, 3}},   {SortTo, {3, 1, 4, 2, 5}},
        {-SortTo, {5, 2, 4, 1, 3}},      {SortNumber, {1, 2, 3, 4, 5}},
    };
    for (const auto& c : cases) {
        TMails mails = SampleMails();
        mails.Sort(c.Code == -SortSize ? SortSize : -SortSize); // start from another order
        mails.Sort(c.Code);
        EXPECT_THAT(Numbers(mails), ElementsAreArray(c.Order)) << "code " << c.Code;
    }
}

TEST(TMails, SortsByPriorityAndAttachmentsInGroups)
{
    TMails mails = SampleMails();
    mails.Sort(SortPriority);
    std::vector<int> priorities;
    for (std::size_t i = 0; i < mails.Count(); ++i)
        priorities.push_back(mails.At(i)->Priority);
    EXPECT_THAT(priorities, ElementsAreArray({4, 5, 5, 6, 6}));
    mails.Sort(-SortPriority);
    EXPECT_EQ(mails.At(0)->Priority, 6); // high priority first when descending
    mails.Sort(SortAttachments);
    EXPECT_FALSE(mails.At(0)->HasAttachments);
    EXPECT_TRUE(mails.At(4)->HasAttachments);
    mails.Sort(-SortAttachments);
    EXPECT_TRUE(mails.At(0)->HasAttachments);
    EXPECT_THROW(mails.Sort(9), std::invalid_argument);
    EXPECT_THROW(mails.Sort(0), std::invalid_argument);
}

TEST(TMails, DetachAndPackKeepTheOrder)
{
    TMails mails = SampleMails();
    mails.Detach(1);
    mails.Detach(3);
    EXPECT_EQ(mails.At(1), nullptr);
    mails.Sort(SortNumber);
    EXPECT_THAT(Numbers(mails), ElementsAreArray({1, 3, 5, 0, 0}));
    mails.Pack();
    EXPECT_THAT(Numbers(mails), ElementsAreArray({1, 3, 5}));
}

TEST(MessageRow, SizeTexts)
{
    struct
    {
        int Size;
        const char* Text;
    } cases[] = {{0, "0 bytes"},       {1023, "1023 bytes"}, {1024, "1 KB"},         {2047, "1 KB"},
                 {1048575, "1023 KB"}, {1048576, "1 MB"},    {2147483647, "2047 MB"}};
    for (const auto& c : cases)
        EXPECT_EQ(SizeText(c.Size), c.Text) << c.Size;
}

TEST(MessageRow, SentTextsInLocalTimeWithTheUsersSeparators)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    // 2026-01-05 23:30:09 UTC is 2026-01-06 00:30:09 in Berlin.
    const std::int64_t sent = 1767655809000;
    EXPECT_EQ(SentText(sent), "01/06/26 00:30:09");
    EXPECT_EQ(SentText(sent, '.', '-'), "01.06.26 00-30-09");
    EXPECT_EQ(SentText(sent + 999), "01/06/26 00:30:09");
    EXPECT_EQ(SentText(-1), "01/01/70 00:59:59"); // a millisecond before 1970 is the second before
    EXPECT_EQ(SentText(TMailMessage::NoDate), "");
    if (old)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}
