#include "classify/TAddressList.h"

#include <gtest/gtest.h>

#include "classify/TAddressImport.h"
#include "classify/TAddressLists.h"
#include "classify/TListEditing.h"
#include "core/TOptionRec.h"
#include "support/TScriptedPrompter.h"

using namespace tarnwick::classify;
using tarnwick::core::TAnswer;
using tarnwick::test::TScriptedPrompter;

namespace {

TAddressList Black(std::vector<TAddressRow> rows = {})
{
    return {TListKind::Black, std::move(rows)};
}
TAddressList White(std::vector<TAddressRow> rows = {})
{
    return {TListKind::White, std::move(rows)};
}
std::vector<std::string> Addresses(const TAddressList& list)
{
    std::vector<std::string> out;
    for (const auto& row : list.Rows)
        out.push_back(row.Address);
    return out;
}

} // namespace

TEST(AddressListTest, PlausibleAddresses)
{
    const struct
    {
        const char* Text;
        bool Plausible;
    } cases[] = {
        {"", false},
        {"@example.org", false},
        {"joe@", false},
        {"@", false},
        {"joe@example.org", true},
        {"no-at-sign", true},
        {" @x", true},
        {"a@b@", true},
        {"a@@", true},
        {"@@", false},
        {" ", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsPlausibleAddress(c.Text), c.Plausible) << '"' << c.Text << '"';
}

// Pairs of texts and whether the lists take them for one address. Each pair is also checked the
// other way round and against the keys the views look senders up by, so that the comparison and
// the key can never drift apart.
TEST(AddressListTest, EntriesMatchAddressesInAnyLetterCase)
{
    const struct
    {
        const char* A;
        const char* B;
        bool Same;
    } cases[] = {
        {"joe@example.org", "joe@example.org", true},
        {"mailer-daemon@mail.example.org", "MAILER-DAEMON@mail.example.org", true}, // local part
        {"joe@example.org", "joe@EXAMPLE.ORG", true},                               // domain
        {"Joe@Example.Org", "jOE@eXAMPLE.oRG", true},                               // both
        {"joe@example.org", "jim@example.org", false},
        {"joe@example.org", "joe@example.com", false},
        // Domains beyond ASCII fold as Unicode, in composed form.
        {"user@B\u00DCCHER.example", "user@b\u00FCcher.example", true},
        {"user@bu\u0308cher.example", "USER@B\u00DCCHER.EXAMPLE", true},
        {"user@\u212A.example", "user@k.example", true}, // KELVIN SIGN folds to a plain k
        {"user@b\u00FCcher.example", "user@bucher.example", false},
        {"user@stra\u00DFe.example", "user@STRASSE.example", false},    // another domain
        {"user@stra\u00DFe.example", "user@STRA\u1E9EE.example", true}, // capital sharp s
        // A domain that is not UTF-8 folds A to Z alone.
        {"joe@gr\xDCn.example", "JOE@GR\xDCN.EXAMPLE", true},
        {"joe@gr\xDCn.example", "joe@gr\xFCn.example", false},
        // The local part folds A to Z and keeps every other byte.
        {"\xC3\xA9t\xC3\xA9@x.org", "\xC3\xA9T\xC3\xA9@X.ORG", true},
        {"\xC3\xA9t\xC3\xA9@x.org", "\xC3\x89T\xC3\x89@x.org", false},
        // One trailing dot of the domain is the root, nothing more.
        {"joe@example.org.", "JOE@example.org", true},
        {"joe@example.org..", "joe@example.org", false},
        {"joe@.", "joe@", false},
        // Without "@": A to Z folded throughout, nothing else.
        {"Plain-Text", "pLAIN-tEXT", true},
        {"example.org.", "example.org", false},
        {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9", false},
        {"joe", "joe@", false},
        // Several "@": the last one starts the domain, so what comes before it is local part.
        {"\"a@b\"@Example.org", "\"A@B\"@example.ORG.", true},
        {"joe@B\u00DCCHER@x.org", "joe@b\u00FCcher@x.org", false},
        {"a@b@x.org", "a@b@y.org", false},
        // No trimming here.
        {" joe@x.org", "joe@x.org", false},
        {"", "", true},
        {"", "@", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.A) + " / " + c.B);
        EXPECT_EQ(SameListAddress(c.A, c.B), c.Same);
        EXPECT_EQ(SameListAddress(c.B, c.A), c.Same);
        EXPECT_EQ(ListAddressKey(c.A) == ListAddressKey(c.B), c.Same);
    }
}

// Both membership tests match in any letter case; IsListed never trims and counts disabled rows,
// IsEnabledMember (the classifier's) trims blanks and control characters and looks at enabled rows
// only.
TEST(AddressListTest, TheTwoMembershipTests)
{
    const TAddressList list = Black({{"Joe@Example.org", true, {}},
                                     {" \tpadded@x.org\r ", true, {}},
                                     {"off@x.org", false, {}},
                                     {"\xC3\xA9t\xC3\xA9@x.org", true, {}},
                                     {"mailer-daemon@mail.example.org", true, {}},
                                     {"user@b\u00FCcher.example.", true, {}}});
    const struct
    {
        const char* Text;
        bool Listed;
        bool Member;
    } cases[] = {
        {"Joe@Example.org", true, true},
        {"joe@example.org", true, true},
        {"JOE@EXAMPLE.ORG", true, true},
        {"MAILER-DAEMON@mail.example.org", true, true},
        {"user@B\u00DCCHER.EXAMPLE", true, true},
        {"  JOE@Example.org\t", false, true},
        {"\x01mailer-daemon@MAIL.example.org\x1f", false, true},
        {"padded@x.org", false, true},
        {"PADDED@X.ORG\n", false, true},
        {" \tpadded@x.org\r ", true, true},
        {"off@x.org", true, false},
        {" OFF@X.ORG", false, false},
        {"OFF@X.ORG", true, false},
        {"\xC3\x89T\xC3\x89@x.org", false, false},
        {"\xC3\xA9T\xC3\xA9@X.ORG", true, true},
        {"", false, false},
        {"nobody@x.org", false, false},
    };
    // A published state answers through its hash indexes, and must answer the same, the entry found
    // included.
    const TListsState indexed = TListsState::Indexed(list, White());
    for (const auto& c : cases) {
        EXPECT_EQ(IsListed(list, c.Text), c.Listed) << '"' << c.Text << '"';
        EXPECT_EQ(IsEnabledMember(list, c.Text), c.Member) << '"' << c.Text << '"';
        EXPECT_EQ(indexed.Listed(TListKind::Black, c.Text), c.Listed) << "indexed: \"" << c.Text << '"';
        EXPECT_EQ(indexed.EnabledMember(TListKind::Black, c.Text), c.Member)
            << "indexed: \"" << c.Text << '"';
        EXPECT_EQ(indexed.EnabledMemberEntry(TListKind::Black, c.Text), EnabledMemberEntry(list, c.Text))
            << "indexed: \"" << c.Text << '"';
        EXPECT_FALSE(indexed.Listed(TListKind::White, c.Text)) << "the other list is empty";
    }
}

// The entry the classifier reports is the first enabled row that matches, also when an in-place
// edit left several rows of one address; a disabled duplicate before it does not hide it.
TEST(AddressListTest, TheIndexFindsTheFirstEnabledEntryAmongDuplicates)
{
    const TAddressList list = Black({{"dup@x.org", false, {}},
                                     {" DUP@x.org", true, {}},
                                     {"dup@X.ORG.", true, {}},
                                     {"bare", true, {}},
                                     {"BARE", false, {}}});
    const TListsState indexed = TListsState::Indexed(list, White());
    const char* texts[] = {"dup@x.org", "Dup@X.org.", "\tdup@x.org ", "bare", "Bare ", "nope"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(indexed.EnabledMemberEntry(TListKind::Black, text), EnabledMemberEntry(list, text));
        EXPECT_EQ(indexed.Listed(TListKind::Black, text), IsListed(list, text));
    }
    EXPECT_EQ(indexed.EnabledMemberEntry(TListKind::Black, "dup@x.org"), "DUP@x.org");
    EXPECT_FALSE(TListsState().Listed(TListKind::Black, "dup@x.org"))
        << "a state without lists lists nothing";
}

TEST(AddressListTest, AddRemoveAndMove)
{
    TAddressList black = Black({{"a@x.org", false, {}}});
    TAddressList white = White({{"b@x.org", true, {}}});

    EXPECT_FALSE(AddListed(black, "A@X.ORG")) << "a duplicate in other letter case";
    EXPECT_FALSE(AddListed(black, "c@")) << "not plausible";
    EXPECT_TRUE(AddListed(black, "plain-text"));
    EXPECT_EQ(black.Rows.back(), (TAddressRow{"plain-text", true, {}}));

    EXPECT_TRUE(MoveToList(black, white, "B@x.org"));
    EXPECT_TRUE(white.Rows.empty());
    EXPECT_EQ(Addresses(black), (std::vector<std::string>{"a@x.org", "plain-text", "B@x.org"}));

    EXPECT_FALSE(RemoveListed(white, "b@x.org"));
    EXPECT_TRUE(RemoveListed(black, "PLAIN-TEXT"));
    EXPECT_EQ(Addresses(black), (std::vector<std::string>{"a@x.org", "B@x.org"}));
}

TEST(AddressListTest, WindowAddLooksInTheOtherListFirstAndTakesAnyText)
{
    TAddressList black = Black();
    TAddressList white = White({{"Friend@x.org", false, {}}});
    EXPECT_EQ(AddAddress(black, white, "friend@X.org"), TAddOutcome::InOtherList);
    EXPECT_EQ(AlreadyInListText(TListKind::White), "This address is already in the White list.");
    EXPECT_EQ(AddAddress(black, white, "@odd"), TAddOutcome::Added) << "no plausibility test";
    EXPECT_EQ(AddAddress(black, white, "@ODD"), TAddOutcome::InThisList);
    EXPECT_EQ(AddAddress(black, white, std::string(MaxListText + 1, 'x')), TAddOutcome::TooLong);
    black.Rows.resize(MaxListRows);
    EXPECT_EQ(AddAddress(black, white, "one@more.org"), TAddOutcome::ListFull);
    EXPECT_FALSE(AddListed(black, "one@more.org"));
    EXPECT_EQ(black.Rows.size(), MaxListRows);
}

// Cases whose order is the same in every locale: lower-case ASCII and digits.
TEST(AddressListTest, WhiteListStaysSortedBlackListKeepsInsertionOrder)
{
    TAddressList white = White();
    TAddressList black = Black();
    for (const char* address : {"mike@x.org", "alice@x.org", "zoe@x.org", "bob@x.org", "alice@w.org"}) {
        AddListed(white, address);
        AddListed(black, address);
    }
    EXPECT_EQ(Addresses(white), (std::vector<std::string>{"alice@w.org", "alice@x.org", "bob@x.org",
                                                          "mike@x.org", "zoe@x.org"}));
    EXPECT_EQ(Addresses(black), (std::vector<std::string>{"mike@x.org", "alice@x.org", "zoe@x.org",
                                                          "bob@x.org", "alice@w.org"}));

    white.Rows[0].Address = "yves@x.org"; // an in-place edit
    SortRows(white);
    EXPECT_EQ(Addresses(white), (std::vector<std::string>{"alice@x.org", "bob@x.org", "mike@x.org",
                                                          "yves@x.org", "zoe@x.org"}));
}

// The import merge: answers are scripted, and each case checks the questions asked (with their
// buttons) and the lists afterwards.
TEST(AddressImportTest, AnswersDecideWhatMovesAndForHowLong)
{
    using A = TAnswer;
    const std::vector<A> yesNo{A::Yes, A::No};
    const std::vector<A> all{A::Yes, A::No, A::Cancel, A::YesToAll, A::NoToAll};
    const struct
    {
        const char* Name;
        std::vector<std::string> PhaseOne;
        std::vector<std::string> PhaseTwo;
        std::vector<A> Answers;
        std::vector<std::vector<A>> ButtonsAsked;
        std::vector<std::string> Black;
        std::vector<std::string> White;
    } cases[] = {
        {"no conflicts: plausible ones added, the rest skipped",
         {"new@x.org", "", "bad@", "plain", "NEW@x.org"},
         {"@bad"},
         {},
         {},
         {"keep@x.org", "new@x.org", "plain"},
         {"w1@x.org", "w2@x.org", "w3@x.org"}},
        {"Yes and No one by one",
         {"w1@x.org", "W2@X.ORG"},
         {},
         {A::Yes, A::No},
         {all, all},
         {"keep@x.org", "w1@x.org"},
         {"w2@x.org", "w3@x.org"}},
        {"a phase of one address offers Yes and No only",
         {"w1@x.org"},
         {"w2@x.org"},
         {A::No, A::Yes},
         {yesNo, yesNo},
         {"keep@x.org", "w2@x.org"},
         {"w1@x.org", "w3@x.org"}},
        {"Yes to All holds into phase two",
         {"w1@x.org", "a@x.org"},
         {"w2@x.org", "w3@x.org"},
         {A::YesToAll},
         {all},
         {"keep@x.org", "w1@x.org", "a@x.org", "w2@x.org", "w3@x.org"},
         {}},
        {"No to All holds into phase two, new addresses still added",
         {"w1@x.org", "w2@x.org"},
         {"w3@x.org", "b@x.org"},
         {A::NoToAll},
         {all},
         {"keep@x.org", "b@x.org"},
         {"w1@x.org", "w2@x.org", "w3@x.org"}},
        {"Cancel ends phase one only",
         {"w1@x.org", "a@x.org"},
         {"w2@x.org", "b@x.org"},
         {A::Cancel, A::Yes},
         {all, all},
         {"keep@x.org", "w2@x.org", "b@x.org"},
         {"w1@x.org", "w3@x.org"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TAddressList black = Black({{"keep@x.org", true, {}}});
        TAddressList white = White({{"w1@x.org", true, {}}, {"w2@x.org", true, {}}, {"w3@x.org", false, {}}});
        TScriptedPrompter prompter(c.Answers);
        ImportAddresses(black, white, c.PhaseOne, c.PhaseTwo, prompter);
        EXPECT_TRUE(prompter.Answers.empty()) << "not every scripted answer was asked for";
        ASSERT_EQ(prompter.Log.size(), c.ButtonsAsked.size());
        for (std::size_t i = 0; i < prompter.Log.size(); ++i) {
            EXPECT_EQ(prompter.Log[i].Text,
                      "This address is already in the White list. Do you want to move it to Black list ?");
            EXPECT_EQ(prompter.Log[i].Buttons, c.ButtonsAsked[i]);
        }
        EXPECT_EQ(Addresses(black), c.Black);
        EXPECT_EQ(Addresses(white), c.White);
    }
}

TEST(AddressImportTest, IntoTheWhiteListAsksTheMirroredQuestion)
{
    TAddressList white = White();
    TAddressList black = Black({{"spam@x.org", true, {}}});
    TScriptedPrompter prompter({TAnswer::Yes});
    const std::vector<std::string> one{"Spam@x.org"};
    ImportAddresses(white, black, one, {}, prompter);
    ASSERT_EQ(prompter.Log.size(), 1u);
    EXPECT_EQ(prompter.Log[0].Text,
              "This address is already in the Black list. Do you want to move it to White list ?");
    EXPECT_TRUE(black.Rows.empty());
    EXPECT_EQ(Addresses(white), std::vector<std::string>{"Spam@x.org"});
}

TEST(ListEditingTest, AddWarnsOnlyWhenTheOptionIsOn)
{
    const struct
    {
        const char* Warn;
        const char* Text;
        TAddOutcome Outcome;
        std::vector<std::string> Messages;
    } cases[] = {
        {"1", "Friend@X.org", TAddOutcome::InOtherList, {"This address is already in the White list."}},
        {"1", "SPAM@x.org", TAddOutcome::InThisList, {"This address is already in the Black list."}},
        {"1", "Spam@X.Org.", TAddOutcome::InThisList, {"This address is already in the Black list."}},
        {"0", "friend@x.org", TAddOutcome::InOtherList, {}},
        {"", "spam@x.org", TAddOutcome::InThisList, {}},
        {"1", "new@x.org", TAddOutcome::Added, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        TAddressList black = Black({{"spam@x.org", true, {}}});
        const TAddressList white = White({{"friend@x.org", true, {}}});
        tarnwick::core::TOptionRec options;
        options.WarnAddressInList = c.Warn;
        TScriptedPrompter prompter;
        EXPECT_EQ(AddWithWarning(black, white, c.Text, options, prompter), c.Outcome);
        std::vector<std::string> messages;
        for (const auto& entry : prompter.Log) {
            EXPECT_EQ(entry.Kind, tarnwick::core::TMessageKind::Warning);
            messages.push_back(entry.Text);
        }
        EXPECT_EQ(messages, c.Messages);
        EXPECT_EQ(black.Rows.size(), c.Outcome == TAddOutcome::Added ? 2u : 1u);
    }
}

TEST(ListEditingTest, RemoveAsksFirstEvenWithoutSelection)
{
    const struct
    {
        const char* Confirm;
        std::set<std::size_t> Selected;
        std::vector<TAnswer> Answers;
        std::vector<std::string> Left;
    } cases[] = {
        {"1", {}, {TAnswer::Yes}, {"a", "b", "c"}},
        {"1", {0, 2}, {TAnswer::No}, {"a", "b", "c"}},
        {"1", {0, 2, 7}, {TAnswer::Yes}, {"b"}},
        {"0", {1}, {}, {"a", "c"}},
    };
    for (const auto& c : cases) {
        TAddressList list = Black({{"a", true, {}}, {"b", true, {}}, {"c", true, {}}});
        tarnwick::core::TOptionRec options;
        options.ConfirmRemoveAddress = c.Confirm;
        TScriptedPrompter prompter(c.Answers);
        RemoveSelected(list, c.Selected, options, prompter);
        EXPECT_EQ(Addresses(list), c.Left);
        EXPECT_TRUE(prompter.Answers.empty());
        ASSERT_EQ(prompter.Log.size(), std::string(c.Confirm) == "1" ? 1u : 0u);
        for (const auto& entry : prompter.Log)
            EXPECT_EQ(entry.Text, "Are you sure you want to delete this address?");
    }
}
