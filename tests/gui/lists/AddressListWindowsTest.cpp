// The Black List and White List windows against the process-wide lists and the real list files of
// a temporary home, and the main window's commands that open them.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include "accounts/TAdmin.h"
#include "classify/TAddressLists.h"
#include "classify/TListEditing.h"
#include "classify/TLvfFile.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TOptionRec.h"
#include "gui/lists/TAddressListModel.h"
#include "gui/lists/TfAddressList.h"
#include "gui/main/TfMain.h"
#include "support/TScriptedPrompter.h"
#include "support/TTempHome.h"
#include "support/TTestAccount.h"
#include "support/TWidgetLookup.h"

using namespace tarnwick;
using classify::TAddressRow;
using classify::TListKind;
using core::TAnswer;
using test::Child;
using test::TScriptedPrompter;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

using TRows = std::vector<TAddressRow>;

TAddressRow On(const char* address)
{
    return {address, true, {}};
}
TAddressRow Off(const char* address)
{
    return {address, false, {}};
}

const char* Name(TListKind kind)
{
    return kind == TListKind::Black ? "black" : "white";
}

void SetOptions(const std::function<void(core::TOptionRec&)>& change)
{
    core::TOptionRec rec = *core::Options();
    change(rec);
    core::PublishOptions(rec);
}

// The rows the window's list shows, read through its view.
TRows Shown(QWidget& window)
{
    TRows rows;
    auto* view = Child<QTreeView>(window, "lvAddresses");
    const QAbstractItemModel* model = view->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex at = model->index(row, 0);
        rows.push_back({at.data(Qt::DisplayRole).toString().toStdString(),
                        at.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked,
                        {}});
    }
    return rows;
}

void Select(QWidget& window, const std::vector<int>& rows)
{
    auto* view = Child<QTreeView>(window, "lvAddresses");
    view->selectionModel()->clearSelection();
    for (const int row : rows)
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (!rows.empty())
        view->selectionModel()->setCurrentIndex(view->model()->index(rows.front(), 0),
                                                QItemSelectionModel::NoUpdate);
}

std::vector<int> SelectedRows(QWidget& window)
{
    std::vector<int> rows;
    for (const QModelIndex& at : Child<QTreeView>(window, "lvAddresses")->selectionModel()->selectedRows())
        rows.push_back(at.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TypeAddress(QWidget& window, const char* text)
{
    Child<QLineEdit>(window, "edAddress")->setText(QString::fromUtf8(text));
}

// Modify... and the text typed into the in-place editor, confirmed with Return.
void Modify(QWidget& window, int row, const char* text)
{
    Select(window, {row});
    Child<QPushButton>(window, "buModify")->click();
    auto* view = Child<QTreeView>(window, "lvAddresses");
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    if (editor == nullptr)
        editor = view->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr) << "no in-place editor";
    editor->setText(QString::fromUtf8(text));
    QTest::keyClick(editor, Qt::Key_Return);
    // The delegate commits the edit from the event loop, and the window selects the row after that.
    QApplication::processEvents();
    QApplication::processEvents();
}

// Types the text and presses Add; the address field has the focus afterwards, whatever came of it.
std::function<void(QWidget&)> Add(const char* text)
{
    return [text](QWidget& window) {
        TypeAddress(window, text);
        Child<QPushButton>(window, "buAdd")->click();
        EXPECT_EQ(window.focusWidget(), Child<QLineEdit>(window, "edAddress"));
    };
}

void PressDelete(QWidget& window)
{
    QTest::keyClick(Child<QTreeView>(window, "lvAddresses"), Qt::Key_Delete);
}

std::string ListPath(TListKind kind)
{
    return core::Folders().DataFolder +
           (kind == TListKind::White ? classify::WhiteListFileName : classify::BlackListFileName);
}

class AddressListWindowsTest : public ::testing::Test
{
protected:
    test::TTempHome Home;
    std::vector<std::string> Notices;
    TScriptedPrompter Prompter;

    void SetUp() override
    {
        core::InitializeModules(Home / "bin/tarnwick", core::TEnvironment::FromProcess(), Notices);
        core::LoadOptionsAtStart();
        classify::AddressLists().Replace({}, {});
    }
    void TearDown() override
    {
        classify::AddressLists().Replace({}, {});
        core::FinalizeModules();
    }

    static void Publish(TRows black, TRows white)
    {
        classify::AddressLists().Replace({TListKind::Black, std::move(black)},
                                         {TListKind::White, std::move(white)});
    }
    static TRows Published(TListKind kind) { return classify::AddressLists().Snapshot().Of(kind).Rows; }

    std::unique_ptr<gui::TfAddressList> Open(TListKind kind)
    {
        std::unique_ptr<gui::TfAddressList> window;
        if (kind == TListKind::Black)
            window = std::make_unique<gui::TfBlackList>(Prompter);
        else
            window = std::make_unique<gui::TfWhiteList>(Prompter);
        window->show();
        return window;
    }

    std::vector<std::string> Messages() const
    {
        std::vector<std::string> texts;
        for (const auto& entry : Prompter.Log)
            texts.push_back(entry.Text);
        return texts;
    }
};

} // namespace

TEST_F(AddressListWindowsTest, WindowsShowTheirTextsAndControls)
{
    const struct
    {
        TListKind Kind;
        const char* ObjectName;
        const char* Caption;
        const char* Explanation;
    } cases[] = {
        {TListKind::Black, "fBlackList", "Black List",
         "Type the e-mail address and click Add to add it to the Black list. Messages from these addresses "
         "will be automatically deleted or marked on receiving."},
        {TListKind::White, "fWhiteList", "White List",
         "Type the e-mail address and click Add to add it to the White list. Messages from these addresses "
         "will be not filtered."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Caption);
        auto window = Open(c.Kind);
        EXPECT_EQ(window->objectName().toStdString(), c.ObjectName);
        EXPECT_EQ(window->windowTitle().toStdString(), c.Caption);
        EXPECT_EQ(Child<QLabel>(*window, "laExplanation")->text().toStdString(), c.Explanation);
        const std::pair<const char*, const char*> buttons[] = {{"buAdd", "Add"},
                                                               {"buModify", "Modify..."},
                                                               {"buRemove", "&Remove"},
                                                               {"buImport", "Import..."},
                                                               {"buClose", "&Close"}};
        for (const auto& [name, text] : buttons)
            EXPECT_EQ(Child<QPushButton>(*window, name)->text().toStdString(), text) << name;
        EXPECT_TRUE(Child<QPushButton>(*window, "buAdd")->isDefault());
        // The import is not there yet, and the button says so rather than doing nothing.
        auto* import = Child<QPushButton>(*window, "buImport");
        EXPECT_FALSE(import->isEnabled());
        EXPECT_THAT(import->toolTip().toStdString(), HasSubstr("not available yet"));
        EXPECT_THAT(Child<QLabel>(*window, "ILEnableAll")->text().toStdString(),
                    HasSubstr(">Enable all addresses<"));
        EXPECT_THAT(Child<QLabel>(*window, "ILDisableAll")->text().toStdString(),
                    HasSubstr(">Disable all addresses<"));

        auto* view = Child<QTreeView>(*window, "lvAddresses");
        EXPECT_EQ(view->model()->columnCount(), 1);
        EXPECT_EQ(view->model()->headerData(0, Qt::Horizontal).toString().toStdString(), "Addresses");
        EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
        EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
    }
}

// Add, Remove (button and Delete key) and Modify in both windows, with the messages they give; the
// published lists, the window's rows and the address field afterwards.
TEST_F(AddressListWindowsTest, AddRemoveAndModifyChangeThePublishedListAtOnce)
{
    const TRows whiteRows = {On("alpha@x.example"), On("beta@x.example"), On("delta@x.example")};
    const TRows blackRows = {On("mike@y.example"), Off("alpha@y.example")};
    const std::string inWhite = classify::AlreadyInListText(TListKind::White);
    const std::string inBlack = classify::AlreadyInListText(TListKind::Black);
    const std::string question(classify::ConfirmDeleteAddress);
    struct TCase
    {
        const char* Name;
        TListKind Kind;
        bool Warn;
        bool Confirm;
        std::vector<TAnswer> Answers;
        std::function<void(QWidget&)> Act;
        TRows Black; // afterwards
        TRows White;
        std::vector<std::string> Messages;
        const char* Field; // the address field afterwards
        std::vector<int> Selected;
    };
    const TCase cases[] = {
        {"black: in the white list in other letter case",
         TListKind::Black,
         true,
         true,
         {},
         Add("ALPHA@X.example"),
         blackRows,
         whiteRows,
         {inWhite},
         "ALPHA@X.example",
         {}},
        {"black: the domain's trailing dot still matches",
         TListKind::Black,
         true,
         true,
         {},
         Add("Beta@x.example."),
         blackRows,
         whiteRows,
         {inWhite},
         "Beta@x.example.",
         {}},
        {"white: already in this list",
         TListKind::White,
         true,
         true,
         {},
         Add("Delta@X.EXAMPLE"),
         blackRows,
         whiteRows,
         {inWhite},
         "Delta@X.EXAMPLE",
         {}},
        {"white: in the black list, disabled there",
         TListKind::White,
         true,
         true,
         {},
         Add("alpha@Y.example"),
         blackRows,
         whiteRows,
         {inBlack},
         "alpha@Y.example",
         {}},
        {"black: in the white list, warning off",
         TListKind::Black,
         false,
         true,
         {},
         Add("alpha@x.example"),
         blackRows,
         whiteRows,
         {},
         "alpha@x.example",
         {}},
        {"black: added at the end, unchanged",
         TListKind::Black,
         true,
         true,
         {},
         Add(" zed@y.example"),
         {On("mike@y.example"), Off("alpha@y.example"), On(" zed@y.example")},
         whiteRows,
         {},
         "",
         {}},
        {"white: added in order, without a plausibility test",
         TListKind::White,
         true,
         true,
         {},
         Add("charlie@"),
         blackRows,
         {On("alpha@x.example"), On("beta@x.example"), On("charlie@"), On("delta@x.example")},
         {},
         "",
         {}},
        {"white: Return in the field adds",
         TListKind::White,
         true,
         true,
         {},
         [](QWidget& w) {
             TypeAddress(w, "echo@x.example");
             QTest::keyClick(Child<QLineEdit>(w, "edAddress"), Qt::Key_Return);
         },
         blackRows,
         {On("alpha@x.example"), On("beta@x.example"), On("delta@x.example"), On("echo@x.example")},
         {},
         "",
         {}},
        {"white: an edit sorts again and keeps the row selected",
         TListKind::White,
         true,
         true,
         {},
         [](QWidget& w) { Modify(w, 0, "gamma@x.example"); },
         blackRows,
         {On("beta@x.example"), On("delta@x.example"), On("gamma@x.example")},
         {},
         "",
         {2}},
        {"black: an edit is taken unchanged and stays in place",
         TListKind::Black,
         true,
         true,
         {},
         [](QWidget& w) { Modify(w, 1, "not an address "); },
         {On("mike@y.example"), Off("not an address ")},
         whiteRows,
         {},
         "",
         {1}},
        {"black: an edit may make a duplicate",
         TListKind::Black,
         true,
         true,
         {},
         [](QWidget& w) { Modify(w, 1, "MIKE@y.example"); },
         {On("mike@y.example"), Off("MIKE@y.example")},
         whiteRows,
         {},
         "",
         {1}},
        {"Delete key, nothing selected, confirm on: asked, nothing deleted",
         TListKind::White,
         true,
         true,
         {TAnswer::Yes},
         [](QWidget& w) {
             Select(w, {});
             PressDelete(w);
         },
         blackRows,
         whiteRows,
         {question},
         "",
         {}},
        {"Delete key, two rows, Yes",
         TListKind::White,
         true,
         true,
         {TAnswer::Yes},
         [](QWidget& w) {
             Select(w, {0, 2});
             PressDelete(w);
         },
         blackRows,
         {On("beta@x.example")},
         {question},
         "",
         {}},
        {"Remove, No keeps the rows",
         TListKind::Black,
         true,
         true,
         {TAnswer::No},
         [](QWidget& w) {
             Select(w, {0, 1});
             Child<QPushButton>(w, "buRemove")->click();
         },
         blackRows,
         whiteRows,
         {question},
         "",
         {0, 1}},
        {"Remove, confirm off: deleted without a question",
         TListKind::Black,
         true,
         false,
         {},
         [](QWidget& w) {
             Select(w, {1});
             Child<QPushButton>(w, "buRemove")->click();
         },
         {On("mike@y.example")},
         whiteRows,
         {},
         "",
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Publish(blackRows, whiteRows);
        SetOptions([&](core::TOptionRec& o) {
            o.WarnAddressInList = c.Warn ? "1" : "0";
            o.ConfirmRemoveAddress = c.Confirm ? "1" : "0";
        });
        Prompter.Log.clear();
        Prompter.Answers.assign(c.Answers.begin(), c.Answers.end());
        auto window = Open(c.Kind);
        c.Act(*window);

        EXPECT_EQ(Published(TListKind::Black), c.Black);
        EXPECT_EQ(Published(TListKind::White), c.White);
        EXPECT_EQ(Shown(*window), c.Kind == TListKind::Black ? c.Black : c.White);
        EXPECT_EQ(Messages(), c.Messages);
        EXPECT_TRUE(Prompter.Answers.empty()) << "a question was not asked";
        EXPECT_EQ(Child<QLineEdit>(*window, "edAddress")->text().toStdString(), c.Field);
        EXPECT_EQ(SelectedRows(*window), c.Selected);
    }
}

TEST_F(AddressListWindowsTest, AFullListOrATooLongAddressIsRefusedWithAMessage)
{
    TRows full;
    for (std::size_t i = 0; i < classify::MaxListRows; ++i)
        full.push_back(On(("user" + std::to_string(i) + "@z.example").c_str()));
    // Fewer characters than the field takes, more bytes than a list file holds.
    std::string tooLong;
    for (int i = 0; i < 40000; ++i)
        tooLong += "\u00e9";
    tooLong += "@z.example";
    const struct
    {
        const char* Name;
        TRows Black;
        std::string Address;
        const char* Message;
    } cases[] = {
        {"full list", full, "new@z.example", "The Black list is full: it holds at most 65535 addresses."},
        {"too long", {}, tooLong, "The address is too long: a list holds addresses of at most 65535 bytes."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Publish(c.Black, {});
        Prompter.Log.clear();
        auto window = Open(TListKind::Black);
        TypeAddress(*window, c.Address.c_str());
        Child<QPushButton>(*window, "buAdd")->click();
        EXPECT_EQ(Messages(), std::vector<std::string>{c.Message});
        EXPECT_EQ(Published(TListKind::Black).size(), c.Black.size());
        EXPECT_EQ(Child<QLineEdit>(*window, "edAddress")->text().toStdString(), c.Address);
    }
}

TEST_F(AddressListWindowsTest, TicksAndEnableOrDisableAllSetTheCheckMarks)
{
    for (const TListKind kind : {TListKind::Black, TListKind::White}) {
        SCOPED_TRACE(Name(kind));
        const TRows rows = {On("a@x.example"), Off("b@x.example"), On("c@x.example")};
        Publish(rows, rows);
        auto window = Open(kind);
        auto* view = Child<QTreeView>(*window, "lvAddresses");

        // Space on the current row toggles its box, as a click on it does.
        Select(*window, {1});
        QTest::keyClick(view, Qt::Key_Space);
        EXPECT_EQ(Published(kind), (TRows{On("a@x.example"), On("b@x.example"), On("c@x.example")}));
        view->model()->setData(view->model()->index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
        EXPECT_EQ(Published(kind), (TRows{Off("a@x.example"), On("b@x.example"), On("c@x.example")}));

        emit Child<QLabel>(*window, "ILDisableAll")->linkActivated(QStringLiteral("#"));
        EXPECT_EQ(Published(kind), (TRows{Off("a@x.example"), Off("b@x.example"), Off("c@x.example")}));
        EXPECT_EQ(Shown(*window), Published(kind));
        emit Child<QLabel>(*window, "ILEnableAll")->linkActivated(QStringLiteral("#"));
        EXPECT_EQ(Published(kind), (TRows{On("a@x.example"), On("b@x.example"), On("c@x.example")}));
        EXPECT_EQ(Shown(*window), Published(kind));
        // The rows stayed what they were: the selection with them.
        EXPECT_EQ(SelectedRows(*window), std::vector<int>{1});
        // The other list is left alone.
        const TListKind other = kind == TListKind::Black ? TListKind::White : TListKind::Black;
        EXPECT_EQ(Published(other), rows);
    }
}

TEST_F(AddressListWindowsTest, ButtonStatesFollowTheFieldAndTheSelection)
{
    Publish({On("a@x.example"), On("b@x.example")}, {});
    auto window = Open(TListKind::Black);
    auto* add = Child<QPushButton>(*window, "buAdd");
    auto* modify = Child<QPushButton>(*window, "buModify");
    auto* remove = Child<QPushButton>(*window, "buRemove");
    const struct
    {
        const char* Field;
        std::vector<int> Selected;
        bool Add;
        bool ModifyRemove;
    } cases[] = {
        {"", {}, false, false},    {"x", {}, true, false}, {"", {0}, false, true},
        {" ", {0, 1}, true, true}, {"", {}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("field '") + c.Field + "', " + std::to_string(c.Selected.size()) +
                     " selected");
        TypeAddress(*window, c.Field);
        Select(*window, c.Selected);
        EXPECT_EQ(add->isEnabled(), c.Add);
        EXPECT_EQ(modify->isEnabled(), c.ModifyRemove);
        EXPECT_EQ(remove->isEnabled(), c.ModifyRemove);
    }

    // Removing the selected rows leaves nothing selected; adding clears the field.
    SetOptions([](core::TOptionRec& o) { o.ConfirmRemoveAddress = "0"; });
    Select(*window, {0, 1});
    remove->click();
    EXPECT_FALSE(modify->isEnabled());
    EXPECT_FALSE(remove->isEnabled());
    TypeAddress(*window, "c@x.example");
    add->click();
    EXPECT_FALSE(add->isEnabled());

    // Showing the window again clears the field and shows what was published meanwhile.
    TypeAddress(*window, "typed@x.example");
    window->hide();
    Publish({On("d@x.example")}, {});
    window->show();
    EXPECT_EQ(Child<QLineEdit>(*window, "edAddress")->text().toStdString(), "");
    EXPECT_FALSE(add->isEnabled());
    EXPECT_EQ(Shown(*window), TRows{On("d@x.example")});
    EXPECT_EQ(window->focusWidget(), Child<QLineEdit>(*window, "edAddress"));
}

TEST_F(AddressListWindowsTest, EveryWayOfClosingWritesTheListFile)
{
    const struct
    {
        const char* Name;
        std::function<void(QDialog&)> Close;
    } ways[] = {
        {"Close button", [](QDialog& w) { Child<QPushButton>(w, "buClose")->click(); }},
        {"Escape", [](QDialog& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
        {"close box", [](QDialog& w) { w.close(); }},
    };
    for (const TListKind kind : {TListKind::Black, TListKind::White}) {
        for (const auto& way : ways) {
            SCOPED_TRACE(std::string(Name(kind)) + ", " + way.Name);
            // Each round starts from no file, read as such: the saves merge with what was read.
            std::filesystem::remove(ListPath(TListKind::Black));
            std::filesystem::remove(ListPath(TListKind::White));
            classify::AddressLists().Load(core::Folders().DataFolder, Prompter);
            auto window = Open(kind);
            TypeAddress(*window, "odd@x.example");
            Child<QPushButton>(*window, "buAdd")->click();
            TypeAddress(*window, "even@xx.example");
            Child<QPushButton>(*window, "buAdd")->click();
            Select(*window, {0});
            QTest::keyClick(Child<QTreeView>(*window, "lvAddresses"), Qt::Key_Space);
            const TRows expected = Published(kind);
            ASSERT_EQ(expected.size(), 2u);

            way.Close(*window);
            EXPECT_FALSE(window->isVisible());
            const auto read = classify::ReadLvf(test::ReadFileBytes(ListPath(kind)));
            EXPECT_EQ(read.Status, classify::TLvfReadResult::TStatus::Ok);
            EXPECT_EQ(read.Rows, expected);
            EXPECT_TRUE(Prompter.Log.empty());
        }
    }
}

TEST_F(AddressListWindowsTest, AFailedSaveNamesItsCauseAndClosesOnlyWhenTheUserSaysSo)
{
    Publish({On("kept@x.example")}, {});
    // A folder where the file should be: it cannot be replaced by a file.
    std::filesystem::create_directories(ListPath(TListKind::Black));
    auto window = Open(TListKind::Black);
    Prompter.Answers = {core::TAnswer::No};
    Child<QPushButton>(*window, "buClose")->click();
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Prompter.Log[0].Kind, core::TMessageKind::Error);
    EXPECT_THAT(Prompter.Log[0].Text, HasSubstr("The Black list cannot be saved: "));
    EXPECT_THAT(Prompter.Log[0].Text, HasSubstr("BlackList.scl"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(Published(TListKind::Black), TRows{On("kept@x.example")});

    // Once the way is free, closing again writes the rows kept in memory.
    std::filesystem::remove(ListPath(TListKind::Black));
    Prompter.Log.clear();
    Child<QPushButton>(*window, "buClose")->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(Prompter.Log.empty());
    EXPECT_EQ(classify::ReadLvf(test::ReadFileBytes(ListPath(TListKind::Black))).Rows,
              TRows{On("kept@x.example")});

    // Yes closes the window all the same; the rows stay published for the save at exit.
    window = Open(TListKind::Black);
    std::filesystem::remove(ListPath(TListKind::Black));
    std::filesystem::create_directories(ListPath(TListKind::Black));
    Prompter.Answers = {core::TAnswer::Yes};
    TypeAddress(*window, "later@x.example");
    Child<QPushButton>(*window, "buAdd")->click();
    Child<QPushButton>(*window, "buClose")->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(Prompter.Log.size(), 1u);
    EXPECT_EQ(Published(TListKind::Black).size(), 2u);
}

// The program's end writes what no Close wrote, merged with what another program saved meanwhile.
TEST_F(AddressListWindowsTest, TheProgramsEndSavesTheListsMergedWithTheFiles)
{
    const std::string folder = core::Folders().DataFolder;
    classify::AddressLists().Load(folder, Prompter);
    classify::AddressLists().Change(TListKind::White,
                                    [](classify::TAddressList& white, classify::TAddressList&) {
                                        classify::AddListed(white, "mine@x.example");
                                    });
    {
        classify::TAddressLists other; // the command line, from cron
        other.Load(folder, Prompter);
        other.Change(TListKind::White, [](classify::TAddressList& white, classify::TAddressList&) {
            classify::AddListed(white, "cron@x.example");
        });
        other.Save(folder);
    }
    EXPECT_TRUE(gui::SaveListsAtExit(Prompter));
    const auto read = classify::ReadLvf(test::ReadFileBytes(ListPath(TListKind::White)));
    EXPECT_EQ(read.Rows, (TRows{On("cron@x.example"), On("mine@x.example")}));
    EXPECT_TRUE(Prompter.Log.empty());

    // A list that cannot be written is named, and the lists stay as they are.
    std::filesystem::remove(ListPath(TListKind::White));
    std::filesystem::create_directories(ListPath(TListKind::White));
    classify::AddressLists().Change(TListKind::White,
                                    [](classify::TAddressList& white, classify::TAddressList&) {
                                        classify::AddListed(white, "later@x.example");
                                    });
    EXPECT_FALSE(gui::SaveListsAtExit(Prompter));
    ASSERT_EQ(Prompter.Log.size(), 1u);
    EXPECT_THAT(Prompter.Log[0].Text, HasSubstr("The address lists could not be saved: "));
    EXPECT_THAT(Prompter.Log[0].Text, HasSubstr("WhiteList.scl"));
}

TEST_F(AddressListWindowsTest, ModelPassesTheModelTester)
{
    classify::TAddressLists lists;
    lists.Replace({TListKind::Black, {On("b@x.example")}}, {TListKind::White, {On("m@x.example")}});
    gui::TAddressListModel model(lists, TListKind::White);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.Change([](classify::TAddressList& list, classify::TAddressList&) {
        classify::InsertRow(list, On("z@x.example"));
        classify::InsertRow(list, On("a@x.example"));
    });
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_TRUE(model.setData(model.index(0), QStringLiteral("y@x.example"), Qt::EditRole));
    EXPECT_TRUE(model.setData(model.index(1), Qt::Unchecked, Qt::CheckStateRole));
    // An edit whose bytes a list file cannot hold is refused with the reason, and nothing changes.
    std::vector<QString> refused;
    QObject::connect(&model, &gui::TAddressListModel::EditRefused,
                     [&](const QString& reason) { refused.push_back(reason); });
    const TRows before = lists.White()->Rows;
    EXPECT_FALSE(model.setData(model.index(0), QString(30000, QChar(0x20AC)), Qt::EditRole));
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_THAT(refused[0].toStdString(), HasSubstr("too long"));
    EXPECT_EQ(lists.White()->Rows, before);
    model.SetAllEnabled(true);
    model.Change(
        [](classify::TAddressList& list, classify::TAddressList&) { list.Rows.erase(list.Rows.begin()); });
    EXPECT_EQ(lists.White()->Rows, (TRows{On("y@x.example"), On("z@x.example")}));
    // The black list of these lists, and the process-wide lists, are not touched.
    EXPECT_EQ(lists.Black()->Rows, TRows{On("b@x.example")});
    EXPECT_TRUE(classify::AddressLists().White()->Rows.empty());
}

// ---- through the main window -------------------------------------------------------------------------

class ListCommandsTest : public AddressListWindowsTest
{
protected:
    std::unique_ptr<accounts::TAdmin> Admin;
    std::vector<QDialog*> Opened;

    void SetUp() override
    {
        AddressListWindowsTest::SetUp();
        Admin = test::AdminWithOneAccount();
    }
    void TearDown() override
    {
        Admin.reset();
        AddressListWindowsTest::TearDown();
    }

    std::unique_ptr<gui::TfMain> OpenMain()
    {
        auto window = std::make_unique<gui::TfMain>(*Admin, Prompter, nullptr, [this](QDialog& dialog) {
            Opened.push_back(&dialog);
            return int(QDialog::Rejected);
        });
        Admin->MakeInitialCurrent();
        return window;
    }
};

TEST_F(ListCommandsTest, ToolsMenuAndWelcomeLinksOpenTheOneWindowOfEachList)
{
    auto window = OpenMain();
    const struct
    {
        const char* Name;
        std::function<void()> Start;
        const char* Opened;
    } starts[] = {
        {"Tools Black List", [&] { Child<QAction>(*window, "BlackList1")->trigger(); }, "fBlackList"},
        {"Tools White List", [&] { Child<QAction>(*window, "WhiteList1")->trigger(); }, "fWhiteList"},
        {"welcome Black List",
         [&] { emit Child<QLabel>(*window, "ILBlackList")->linkActivated(QStringLiteral("#")); },
         "fBlackList"},
        {"welcome White List",
         [&] { emit Child<QLabel>(*window, "ILWhiteList")->linkActivated(QStringLiteral("#")); },
         "fWhiteList"},
    };
    for (const auto& s : starts) {
        SCOPED_TRACE(s.Name);
        Opened.clear();
        s.Start();
        ASSERT_EQ(Opened.size(), 1u);
        EXPECT_EQ(Opened[0]->objectName().toStdString(), s.Opened);
        EXPECT_EQ(Opened[0], std::string_view(s.Opened) == "fBlackList"
                                 ? static_cast<QDialog*>(&window->BlackListWindow())
                                 : static_cast<QDialog*>(&window->WhiteListWindow()));
    }
    EXPECT_EQ(window->BlackListWindow().Kind(), TListKind::Black);
    EXPECT_EQ(window->WhiteListWindow().Kind(), TListKind::White);
    EXPECT_TRUE(Prompter.Log.empty());
}
