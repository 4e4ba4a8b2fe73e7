#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/Errors.h"
#include "core/TOptionRec.h"
#include "core/TRegistry.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "views/ClassMark.h"
#include "views/TAdvancedFilters.h"
#include "views/TBasicFilters.h"
#include "views/TForeignCharacters.h"

using namespace tarnwick::views;
using tarnwick::accounts::PriorityHigh;
using tarnwick::accounts::PriorityLow;
using tarnwick::accounts::PriorityNormal;
using tarnwick::accounts::TMailMessage;
using tarnwick::accounts::TMails;
using tarnwick::core::TConversionError;
using tarnwick::core::TRegistry;
using tarnwick::core::TSettingsStore;
using tarnwick::test::ReadFileBytes;
using tarnwick::test::TScriptedPrompter;
using tarnwick::test::TTempHome;
using tarnwick::test::WriteFileBytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

TMailMessage Message(std::string subject, std::string fromName = "", std::int32_t size = 100)
{
    TMailMessage m;
    m.Subject = std::move(subject);
    m.FromName = std::move(fromName);
    m.Size = size;
    return m;
}

} // namespace

TEST(BasicFilters, SenderListsAndTheSpamMark)
{
    TBasicFilters filter({"friend@example.org", "both@example.org", "Gr\xC3\x9C\xC3\x9F@example.org",
                          "news@B\u00DCCHER.example"},
                         {"spammer@example.org", "BOTH@example.org"});
    struct
    {
        const char* From;
        const char* Subject;
        bool Good, Spam, Questionable;
    } cases[] = {
        {"friend@example.org", "hi", true, false, false},
        {"FRIEND@Example.org", "hi", true, false, false},             // letter case ignored
        {"GR\xC3\x9C\xC3\x9F@EXAMPLE.org", "hi", true, false, false}, // A-Z of the local part fold
        {"gr\xC3\xBC\xC3\x9F@example.org", "hi", false, false, true}, // ... other letters of it do not
        {"NEWS@b\u00FCcher.example.", "hi", true, false, false},      // the domain's fold beyond A-Z
        {" friend@example.org", "hi", false, false, true},            // not trimmed
        {"spammer@example.org", "hi", false, true, false},
        {"both@example.org", "hi", true, true, false},                     // in both lists: in both views
        {"nobody@example.org", "Re:  [ SPAM ] offer", false, true, false}, // the mark anywhere
        {"nobody@example.org", "[ Spam ] offer", false, false, true},      // without the blanks it is no mark
        {"", "", false, false, true},
    };
    for (const auto& c : cases) {
        TMailMessage m;
        m.FromAddress = c.From;
        m.Subject = c.Subject;
        EXPECT_EQ(filter.Accepts(m, ViewGood), c.Good) << c.From << " / " << c.Subject;
        EXPECT_EQ(filter.Accepts(m, ViewSpam), c.Spam) << c.From << " / " << c.Subject;
        EXPECT_EQ(filter.Accepts(m, ViewQuestionable), c.Questionable) << c.From << " / " << c.Subject;
    }
}

TEST(ClassMarks, StripClassMark)
{
    const std::pair<const char*, const char*> cases[] = {
        {" [ Spam ] offer", "offer"},
        {" [ sPAM ] offer", "offer"},
        {" [ Questionable ] hello", "hello"},
        {" [ QUESTIONABLE ] ", ""},
        {"Re:  [ Spam ] offer", "Re:  [ Spam ] offer"},
        {" [ Spam ]", " [ Spam ]"},
        {"", ""},
    };
    for (const auto& [subject, stripped] : cases)
        EXPECT_EQ(StripClassMark(subject), stripped) << subject;
}

TEST(AdvancedFilters, DuplicatesGroupInOrderOfTheirFirstMessage)
{
    struct
    {
        const char* Name;
        TAdvancedFiltersSettings Settings;
        std::vector<TMailMessage> Messages;
        std::vector<std::size_t> Shown;
    } cases[] = {
        {"a spam mark does not make a difference, letter case does",
         TAdvancedFiltersSettings::Defaults(),
         {Message("offer"), Message(" [ Spam ] offer"), Message("Offer")},
         {0, 1}},
        {"three of a kind with threshold 3; a pair is not enough; groups in order of first message",
         [] {
             auto s = TAdvancedFiltersSettings::Defaults();
             s.Duplicates = 3;
             return s;
         }(),
         {Message("b"), Message("a"), Message("a"), Message("b"), Message("b"), Message("c"), Message("a"),
          Message("a")},
         {0, 3, 4, 1, 2, 6, 7}},
        {"trashed messages take no part",
         TAdvancedFiltersSettings::Defaults(),
         {Message("x"),
          [] {
              auto m = Message("x");
              m.Trashed = true;
              return m;
          }()},
         {}},
        {"no criterion ticked: all messages share one key",
         [] {
             auto s = TAdvancedFiltersSettings::Defaults();
             s.IdemSubject = false;
             return s;
         }(),
         {Message("x"), Message("y")},
         {0, 1}},
        {"from name and whole kilobytes",
         [] {
             auto s = TAdvancedFiltersSettings::Defaults();
             s.IdemSubject = false;
             s.IdemFrom = true;
             s.IdemSize = true;
             return s;
         }(),
         {Message("a", "Ann", 1024), Message("b", "Ann", 2047), Message("c", "Ann", 2048),
          Message("d", "ann", 1500)},
         {0, 1}},
    };
    TScriptedPrompter prompter;
    for (const auto& c : cases) {
        TAdvancedFilters filter(c.Settings, "", "", prompter);
        TMails mails;
        for (const auto& m : c.Messages)
            mails.Add(m);
        EXPECT_EQ(filter.FindDuplicates(mails), c.Shown) << c.Name;
    }
}

TEST(AdvancedFilters, DuplicatesBySentSecond)
{
    auto settings = TAdvancedFiltersSettings::Defaults();
    settings.IdemSubject = false;
    settings.IdemTo = true;
    TMails mails;
    for (const std::int64_t sent :
         std::vector<std::int64_t>{10'000, 10'999, 11'000, TMailMessage::NoDate, TMailMessage::NoDate}) {
        TMailMessage m;
        m.Sent = sent;
        mails.Add(m);
    }
    TScriptedPrompter prompter;
    EXPECT_THAT(TAdvancedFilters(settings, "", "", prompter).FindDuplicates(mails), ElementsAre(0, 1, 3, 4));
}

TEST(AdvancedFilters, PerMessageViews)
{
    const auto with = [](auto change) {
        auto s = TAdvancedFiltersSettings::Defaults();
        change(s);
        return s;
    };
    const auto priority = [](std::int32_t p) {
        TMailMessage m;
        m.Priority = p;
        return m;
    };
    const auto sized = [](std::int32_t size) {
        TMailMessage m;
        m.Size = size;
        return m;
    };
    struct
    {
        const char* Name;
        TAdvancedFiltersSettings Settings;
        int View;
        TMailMessage Message;
        bool Accepted;
    } cases[] = {
        {"high wanted", TAdvancedFiltersSettings::Defaults(), ViewHighPriority, priority(PriorityHigh), true},
        {"high wanted, normal", TAdvancedFiltersSettings::Defaults(), ViewHighPriority,
         priority(PriorityNormal), false},
        {"low wanted", with([](auto& s) { s.HighPririty = false, s.LowPririty = true; }), ViewHighPriority,
         priority(PriorityLow), true},
        {"high and low ticked: high", with([](auto& s) { s.LowPririty = true; }), ViewHighPriority,
         priority(PriorityLow), false},
        {"neither ticked: high", with([](auto& s) { s.HighPririty = false; }), ViewHighPriority,
         priority(PriorityHigh), true},
        {"20480 bytes is not larger than 20 KB", TAdvancedFiltersSettings::Defaults(), ViewVeryLarge,
         sized(20480), false},
        {"21503 bytes is not", TAdvancedFiltersSettings::Defaults(), ViewVeryLarge, sized(21503), false},
        {"21504 bytes is", TAdvancedFiltersSettings::Defaults(), ViewVeryLarge, sized(21504), true},
        {"mail delivery + undeliverable", TAdvancedFiltersSettings::Defaults(), ViewDeliveryErrors,
         Message("Undeliverable: hello", "Mail Delivery Subsystem"), true},
        {"mailer-daemon + failed delivery", TAdvancedFiltersSettings::Defaults(), ViewDeliveryErrors,
         Message("FAILED DELIVERY", "MAILER-DAEMON"), true},
        {"empty from name", TAdvancedFiltersSettings::Defaults(), ViewDeliveryErrors,
         Message("Undeliverable", ""), false},
        {"sender only", TAdvancedFiltersSettings::Defaults(), ViewDeliveryErrors,
         Message("hello", "Mail Delivery Subsystem"), false},
        {"attachments", TAdvancedFiltersSettings::Defaults(), ViewAttachments,
         [] {
             TMailMessage m;
             m.HasAttachments = true;
             return m;
         }(),
         true},
        {"no attachments", TAdvancedFiltersSettings::Defaults(), ViewAttachments, TMailMessage{}, false},
    };
    TScriptedPrompter prompter;
    for (const auto& c : cases) {
        TAdvancedFilters filter(c.Settings, "", "", prompter);
        EXPECT_EQ(filter.Accepts(c.Message, c.View), c.Accepted) << c.Name;
    }
}

TEST(AdvancedFilters, ForeignCharactersCountPerField)
{
    TTempHome home(false);
    const std::string cache = home / "cache";
    std::filesystem::create_directories(cache);
    WriteFileBytes(cache + "/body.eml", "Subject: x\r\n\r\n\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
    TForeignCharacters::Write(home.Path(), {"\xC3\xA9", "\xC3\xB1", "\xC3\x98", "ab", "q"});
    const auto with = [](auto change) {
        auto s = TAdvancedFiltersSettings::Defaults();
        change(s);
        return s;
    };
    struct
    {
        const char* Name;
        TAdvancedFiltersSettings Settings;
        TMailMessage Message;
        bool Accepted;
    } cases[] = {
        {"four from the set, the last at the end", TAdvancedFiltersSettings::Defaults(),
         Message("x\xC3\xA9y\xC3\xB1\xC3\xA9z\xC3\xB1"), true},
        {"three are not enough", TAdvancedFiltersSettings::Defaults(), Message("\xC3\xA9\xC3\xA9\xC3\xA9"),
         false},
        {"letter case ignored beyond A-Z (\xC3\x89 and \xC3\xB8)", TAdvancedFiltersSettings::Defaults(),
         Message("\xC3\x89\xC3\x89\xC3\xB8\xC3\xB8"), true},
        {"ASCII entry, upper-case text", TAdvancedFiltersSettings::Defaults(), Message("QQqq"), true},
        {"a two-character entry counts nothing", TAdvancedFiltersSettings::Defaults(), Message("abababab"),
         false},
        {"counts are per field, not summed", with([](auto& s) { s.ForeignInFrom = true; }),
         Message("\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9"), false},
        {"second field matches", with([](auto& s) { s.ForeignInFrom = true; }),
         Message("", "\xC3\xB1\xC3\xB1\xC3\xB1\xC3\xB1"), true},
        {"unticked field is not examined", TAdvancedFiltersSettings::Defaults(),
         Message("", "\xC3\xB1\xC3\xB1\xC3\xB1\xC3\xB1"), false},
        {"count 1 needs one character", with([](auto& s) { s.CharacterAppearance = 1; }),
         Message("plain \xC3\xB1"), true},
        {"count 0 still needs one character", with([](auto& s) { s.CharacterAppearance = 0; }),
         Message("plain"), false},
        {"body from the cache file",
         with([](auto& s) { s.ForeignInSubject = false, s.ForeignInBody = true; }),
         [] {
             TMailMessage m;
             m.CacheName = "body";
             m.Headers = {"Subject: x"};
             return m;
         }(),
         true},
        {"another message with the same cache name has no body",
         with([](auto& s) { s.ForeignInSubject = false, s.ForeignInBody = true; }),
         [] {
             TMailMessage m;
             m.CacheName = "body";
             m.Headers = {"Subject: y"};
             return m;
         }(),
         false},
        {"body without a cache file", with([](auto& s) { s.ForeignInBody = true; }),
         [] {
             TMailMessage m;
             m.CacheName = "absent";
             return m;
         }(),
         false},
        {"invalid UTF-8 bytes are single characters", TAdvancedFiltersSettings::Defaults(),
         Message("\xC3\xC3\xA9\xA9\xC3\xA9\xC3\xA9\xFF"), false},
    };
    for (const auto& c : cases) {
        TScriptedPrompter prompter;
        TAdvancedFilters filter(c.Settings, home.Path(), cache, prompter);
        EXPECT_EQ(filter.Accepts(c.Message, ViewForeignCharacters), c.Accepted) << c.Name;
        EXPECT_TRUE(filter.GoOn);
        EXPECT_TRUE(prompter.Log.empty());
    }
}

TEST(AdvancedFilters, ForeignCharactersWithoutTheFileWarnOnceAndGiveUp)
{
    TTempHome home(false);
    TScriptedPrompter prompter;
    TAdvancedFilters filter(TAdvancedFiltersSettings::Defaults(), home.Path(), "", prompter);
    EXPECT_FALSE(filter.Accepts(Message("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"), ViewForeignCharacters));
    EXPECT_FALSE(filter.GoOn);
    EXPECT_FALSE(filter.Accepts(Message("x"), ViewForeignCharacters));
    ASSERT_EQ(prompter.Log.size(), 1u);
    EXPECT_EQ(prompter.Log[0].Text, "Cannot apply this filter until you define your special characters ! ");
    EXPECT_EQ(prompter.Log[0].Kind, tarnwick::core::TMessageKind::Warning);
}

TEST(ForeignCharacterFile, LinesAndTheInitialSet)
{
    TTempHome home(false);
    EXPECT_FALSE(TForeignCharacters::Read(home.Path()));
    TForeignCharacters::Write(home.Path(), {"\xC3\xA9", "x"});
    EXPECT_EQ(tarnwick::test::ReadFileBytes(home / "Characters.dat"), "\xC3\xA9\r\nx\r\n");
    EXPECT_THAT(*TForeignCharacters::Read(home.Path() + "/"), ElementsAre("\xC3\xA9", "x"));
    const auto initial = TForeignCharacters::InitialSet();
    ASSERT_EQ(initial.size(), 127u);
    EXPECT_EQ(initial.front(), "\xE2\x82\xAC"); // 128 is the euro sign in Windows-1252
    EXPECT_EQ(initial.back(), "\xC3\xBE");      // 254, not 255
}

class FilterSettingsTest : public ::testing::Test
{
protected:
    TTempHome Home{false};
    TRegistry Reg{std::make_shared<TSettingsStore>(Home / "settings.db")};
};

TEST_F(FilterSettingsTest, DefaultsRoundTripAndConversions)
{
    EXPECT_EQ(ReadFilterSettings(Reg), TAdvancedFiltersSettings::Defaults());
    const auto defaults = TAdvancedFiltersSettings::Defaults();
    EXPECT_EQ(defaults.Duplicates, 2);
    EXPECT_TRUE(defaults.IdemSubject && defaults.HighPririty && defaults.ForeignInSubject);
    EXPECT_EQ(defaults.LargerThenSize, 20);
    EXPECT_EQ(defaults.CharacterAppearance, 4);

    auto changed = defaults;
    changed.ForeignInBody = true;
    changed.IdemSubject = false;
    changed.Duplicates = 7;
    WriteFilterSettings(Reg, changed);
    Reg.OpenKey(tarnwick::core::OptionsKey, false);
    EXPECT_EQ(Reg.ReadString("ForeignInBody"), "-1");
    EXPECT_EQ(Reg.ReadString("IdemSubject"), "0");
    EXPECT_EQ(Reg.ReadString("Duplicates"), "7");
    EXPECT_EQ(ReadFilterSettings(Reg), changed);

    struct
    {
        const char* Value;
        const char* Text;
        bool IdemFrom;
    } texts[] = {{"IdemFrom", "TRUE", true},
                 {"IdemFrom", "false", false},
                 {"IdemFrom", "5", true},
                 {"IdemFrom", "0", false}};
    for (const auto& t : texts) {
        Reg.OpenKey(tarnwick::core::OptionsKey, false);
        Reg.WriteString(t.Value, t.Text);
        EXPECT_EQ(ReadFilterSettings(Reg).IdemFrom, t.IdemFrom) << t.Text;
    }
    // A value of another kind takes the default.
    Reg.OpenKey(tarnwick::core::OptionsKey, false);
    Reg.WriteInteger("LargerThenSize", 99);
    EXPECT_EQ(ReadFilterSettings(Reg).LargerThenSize, 20);
}

TEST_F(FilterSettingsTest, TextsThatAreNoNumbersAreConversionErrors)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Duplicates", "two"}, {"IdemSize", "yes"}, {"CharacterAppearance", ""}, {"LargerThenSize", "True"}};
    for (const auto& [value, text] : cases) {
        WriteFilterSettings(Reg, TAdvancedFiltersSettings::Defaults());
        Reg.OpenKey(tarnwick::core::OptionsKey, false);
        Reg.WriteString(value, text);
        try {
            ReadFilterSettings(Reg);
            ADD_FAILURE() << value << "=" << text << " was accepted";
        } catch (const TConversionError& e) {
            EXPECT_THAT(e.what(), HasSubstr(value));
        }
    }
}

TEST_F(FilterSettingsTest, TolerantReadingListsUnreadableTextsAndKeepsTheOthers)
{
    auto stored = TAdvancedFiltersSettings::Defaults();
    stored.Duplicates = 9;
    stored.IdemFrom = true;
    stored.LargerThenSize = 300;
    WriteFilterSettings(Reg, stored);
    Reg.OpenKey(tarnwick::core::OptionsKey, false);
    Reg.WriteString("IdemSubject", "maybe");
    Reg.WriteString("LargerThenSize", "big");

    std::vector<TUnreadableSetting> unreadable{{"left over", "from before"}};
    const auto read = ReadFilterSettingsTolerant(Reg, unreadable);
    EXPECT_THAT(unreadable, ElementsAre(TUnreadableSetting{"IdemSubject", "maybe"},
                                        TUnreadableSetting{"LargerThenSize", "big"}));
    auto expected = stored;
    expected.IdemSubject = true;  // its default
    expected.LargerThenSize = 20; // its default
    EXPECT_EQ(read, expected);
    // The strict reading still refuses the same store.
    EXPECT_THROW(ReadFilterSettings(Reg), TConversionError);

    WriteFilterSettings(Reg, stored);
    EXPECT_EQ(ReadFilterSettingsTolerant(Reg, unreadable), stored);
    EXPECT_TRUE(unreadable.empty());
}

TEST(ForeignCharacterFile, FailuresNameTheFileAndTheReasonAndKeepTheOldList)
{
    TTempHome home(false);
    std::filesystem::create_directory(home / "kept");
    TForeignCharacters::Write(home / "kept", {"x"});
    // In "kept" the new list cannot be put beside the old one; "plain" is a file, not a folder.
    std::filesystem::create_directory(home / "kept/Characters.dat.new");
    WriteFileBytes(home / "plain", "");
    const std::pair<std::string, const char*> writes[] = {{home / "kept", "Is a directory"},
                                                          {home / "plain", "Not a directory"}};
    for (const auto& [folder, reason] : writes) {
        try {
            TForeignCharacters::Write(folder, {"y", "z"});
            ADD_FAILURE() << folder << ": the write succeeded";
        } catch (const tarnwick::core::TFileError& e) {
            EXPECT_THAT(e.what(), HasSubstr("\"" + folder + "/Characters.dat\""));
            EXPECT_THAT(e.what(), HasSubstr(reason));
        }
    }
    EXPECT_THAT(*TForeignCharacters::Read(home / "kept"), ElementsAre("x"));
    EXPECT_EQ(ReadFileBytes(home / "plain"), "");

    // A folder standing where the file should be is not read as an empty list.
    std::filesystem::create_directories(home / "dir/Characters.dat");
    try {
        TForeignCharacters::Read(home / "dir");
        ADD_FAILURE() << "a folder was read as the list";
    } catch (const tarnwick::core::TFileError& e) {
        EXPECT_THAT(e.what(), HasSubstr(home / "dir/Characters.dat"));
        EXPECT_THAT(e.what(), HasSubstr("Is a directory"));
    }
}
