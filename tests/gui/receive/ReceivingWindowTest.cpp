// The receiving window's own behaviour (task row, errors tab, details, Stop, animation, closing)
// and the bridge that brings a receive's observer calls from the engine threads to it.
#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include "gui/receive/TReceiveBridge.h"
#include "gui/receive/TfReceivingMail.h"
#include "support/TWidgetLookup.h"

using namespace tarnwick;
using gui::TfReceivingMail;

namespace {

using test::Child;

using TStrings = std::vector<std::string>;

TStrings TaskRow(TfReceivingMail& window)
{
    QTreeWidgetItem* row = Child<QTreeWidget>(window, "lvThreadInfo")->topLevelItem(0);
    if (row == nullptr)
        return {};
    return {row->text(0).toStdString(), row->text(1).toStdString(), row->text(2).toStdString()};
}

} // namespace

TEST(ReceivingWindowTest, StartsWithTheLayoutAndTheDetailsShown)
{
    TfReceivingMail window;
    EXPECT_EQ(window.size(), QSize(481, 276));
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::Window));
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    auto* tasks = Child<QTreeWidget>(window, "lvThreadInfo");
    ASSERT_EQ(tasks->columnCount(), 3);
    const TStrings headers{"Tasks", "Status", "Spam Servers"};
    const int widths[] = {200, 120, 115};
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(tasks->headerItem()->text(c).toStdString(), headers[static_cast<std::size_t>(c)]);
        EXPECT_EQ(tasks->columnWidth(c), widths[c]);
    }
    EXPECT_TRUE(Child<QTreeWidget>(window, "lvErrors")->isHeaderHidden());
    auto* tabs = Child<QTabWidget>(window, "pcDetails");
    EXPECT_EQ(tabs->tabText(0).toStdString(), "Tasks");
    EXPECT_EQ(tabs->tabText(1).toStdString(), "Errors");
    EXPECT_EQ(Child<QPushButton>(window, "buDetails")->text().toStdString(), "<<Details");
    for (const char* name : {"lGlobalStatus", "lStatus"})
        EXPECT_EQ(Child<QLabel>(window, name)->alignment(), Qt::AlignCenter) << name;
    EXPECT_FALSE(window.Animation().IsRunning()) << "stopped at creation";
}

// Only the start shows the server count; a later status without one empties the cell, and a task
// without a caption keeps the caption it had.
TEST(ReceivingWindowTest, TaskRowTakesStatusAndServerCellsFromEachCall)
{
    TfReceivingMail window;
    window.SetTask(QStringLiteral("'pop.example.org'"), QStringLiteral("Executing ..."), 3);
    EXPECT_EQ(TaskRow(window),
              (TStrings{"Checking for new messages on 'pop.example.org'", "Executing ...", "3 server(s)"}));
    window.SetTask(std::nullopt, QStringLiteral("Finished ..."), std::nullopt);
    EXPECT_EQ(TaskRow(window),
              (TStrings{"Checking for new messages on 'pop.example.org'", "Finished ...", ""}));
    EXPECT_EQ(Child<QTreeWidget>(window, "lvThreadInfo")->topLevelItemCount(), 1);
    window.ClearTasks();
    window.SetTask(std::nullopt, QStringLiteral("Disconnected ..."), 0);
    EXPECT_EQ(TaskRow(window), (TStrings{"", "Disconnected ...", "0 server(s)"}));
}

TEST(ReceivingWindowTest, AnErrorBringsTheErrorsTabForward)
{
    TfReceivingMail window;
    auto* tabs = Child<QTabWidget>(window, "pcDetails");
    auto* errors = Child<QTreeWidget>(window, "lvErrors");
    for (const char* text : {"First", "Second"}) {
        tabs->setCurrentIndex(0);
        window.AddError(QString::fromLatin1(text));
        EXPECT_EQ(tabs->currentWidget(), errors);
    }
    ASSERT_EQ(errors->topLevelItemCount(), 2);
    EXPECT_EQ(errors->topLevelItem(1)->text(0).toStdString(), "Second");
    EXPECT_FALSE(errors->topLevelItem(1)->icon(0).isNull());
}

// A note is not a failure: it joins the errors list with another icon and leaves the tab alone.
TEST(ReceivingWindowTest, ANoteJoinsTheErrorsListWithoutTakingTheTab)
{
    TfReceivingMail window;
    auto* tabs = Child<QTabWidget>(window, "pcDetails");
    auto* errors = Child<QTreeWidget>(window, "lvErrors");
    tabs->setCurrentIndex(0);
    window.AddNote(QStringLiteral("One session for the whole receive"));
    EXPECT_EQ(tabs->currentIndex(), 0);
    window.AddError(QStringLiteral("An error"));
    ASSERT_EQ(errors->topLevelItemCount(), 2);
    EXPECT_EQ(errors->topLevelItem(0)->text(0).toStdString(), "One session for the whole receive");
    EXPECT_FALSE(errors->topLevelItem(0)->icon(0).isNull());
    EXPECT_NE(errors->topLevelItem(0)->icon(0).cacheKey(), errors->topLevelItem(1)->icon(0).cacheKey());
}

TEST(ReceivingWindowTest, DetailsButtonAlternatesHeightAndCaption)
{
    TfReceivingMail window;
    window.show();
    auto* details = Child<QPushButton>(window, "buDetails");
    auto* status = Child<QStatusBar>(window, "stbarStatus");
    for (int round = 0; round < 2; ++round) {
        QTest::mouseClick(details, Qt::LeftButton);
        EXPECT_EQ(details->text().toStdString(), "Details>>");
        EXPECT_EQ(window.height(), TfReceivingMail::TopPanelHeight - 2);
        EXPECT_FALSE(status->isVisible());
        QTest::mouseClick(details, Qt::LeftButton);
        EXPECT_EQ(details->text().toStdString(), "<<Details");
        EXPECT_EQ(window.height(), 276);
        EXPECT_TRUE(status->isVisible());
    }
}

TEST(ReceivingWindowTest, StopAsksOnceAndStopsTheAnimation)
{
    TfReceivingMail window;
    window.SetReceiving(true);
    window.show();
    EXPECT_TRUE(window.Animation().IsRunning()) << "shown while receiving";
    QSignalSpy stop(&window, &TfReceivingMail::StopRequested);
    auto* button = Child<QPushButton>(window, "buStop");
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(stop.count(), 1);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(window.Animation().IsRunning());
}

TEST(ReceivingWindowTest, HiddenWindowStartsItsAnimationWhenShownAgain)
{
    TfReceivingMail window;
    window.SetReceiving(true);
    EXPECT_FALSE(window.Animation().IsRunning()) << "not shown yet";
    window.show();
    QTest::mouseClick(Child<QPushButton>(window, "buHide"), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    window.Animation().Stop();
    window.show();
    EXPECT_TRUE(window.Animation().IsRunning());
}

// Only a complete receive closes the window; any other end leaves its texts to be read.
TEST(ReceivingWindowTest, ClosesItselfOnlyAfterACompleteReceive)
{
    for (const bool finished : {true, false}) {
        TfReceivingMail window;
        window.SetReceiving(true);
        window.show();
        window.ReceiveEnded(finished);
        EXPECT_EQ(window.isVisible(), !finished);
        EXPECT_FALSE(Child<QPushButton>(window, "buStop")->isEnabled());
        EXPECT_FALSE(window.Animation().IsRunning());
    }
}

TEST(ReceivingWindowTest, CaptionCarriesTheAccountSuffix)
{
    TfReceivingMail window;
    window.SetAccount(QStringLiteral("Jane"));
    window.SetCaption(QStringLiteral("42% Receiving messages for '"));
    EXPECT_EQ(window.windowTitle().toStdString(), "42% Receiving messages for 'Jane'");
}

// Four threads report rows and texts at once, as workers do. Every row arrives once, each thread's
// rows in its order, the texts end at the newest, and the end comes last.
TEST(ReceiveBridgeTest, KeepsEveryCallsOrderAcrossThreads)
{
    TfReceivingMail window;
    std::vector<std::size_t> rows;
    int batches = 0;
    int finishedAt = -1;
    gui::TReceiveBridge bridge(
        &window,
        [&](const std::vector<std::size_t>& indices) {
            ++batches;
            rows.insert(rows.end(), indices.begin(), indices.end());
        },
        [&](engine::TReceiveOutcome outcome) {
            EXPECT_EQ(outcome, engine::TReceiveOutcome::Finished);
            finishedAt = static_cast<int>(rows.size());
        });
    constexpr std::size_t threads = 4;
    constexpr std::size_t perThread = 2500;
    std::vector<std::thread> workers;
    std::atomic<int> progress{0};
    for (std::size_t t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (std::size_t i = 0; i < perThread; ++i) {
                bridge.RowAdded(t * perThread + i);
                const int done = ++progress;
                bridge.SetStatus(std::to_string(done) + " received message(s) of 10000");
            }
        });
    for (auto& worker : workers)
        worker.join();
    bridge.SetStatus("10000 received message(s) of 10000");
    bridge.SetProgress(100);
    bridge.AddError("Last error");
    bridge.Finished(engine::TReceiveOutcome::Finished);
    QCoreApplication::processEvents();

    ASSERT_EQ(rows.size(), threads * perThread);
    EXPECT_EQ(finishedAt, static_cast<int>(rows.size()));
    std::vector<std::size_t> last(threads, 0);
    std::vector<bool> seen(rows.size(), false);
    for (const std::size_t index : rows) {
        ASSERT_FALSE(seen[index]) << index;
        seen[index] = true;
        const std::size_t t = index / perThread;
        EXPECT_GE(index + 1, last[t] + 1) << "thread " << t << " out of order";
        last[t] = index + 1;
    }
    EXPECT_LT(batches, static_cast<int>(rows.size()) / 10) << "rows arrive in batches";
    EXPECT_EQ(Child<QLabel>(window, "lStatus")->text().toStdString(), "10000 received message(s) of 10000");
    EXPECT_EQ(Child<QProgressBar>(window, "gaGlobalProgress")->value(), 100);
    EXPECT_EQ(Child<QTreeWidget>(window, "lvErrors")->topLevelItemCount(), 1);
}
