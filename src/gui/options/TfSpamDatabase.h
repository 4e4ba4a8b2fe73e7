#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QDialog>

#include "classify/TReadDatabaseSettings.h"
#include "classify/TSearchAddress.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnwick::classify {
class TDnsCancel;
}
namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::gui {

// The spam-database list of "Databases.ini": add, remove and tick servers; the list is written back
// whenever the dialog closes. "Test" asks every ticked zone for its test points on a thread of its
// own and shows beside each zone whether it works.
class TfSpamDatabase : public QDialog
{
    Q_OBJECT

public:
    // `path` is the list file (classify::TReadDatabaseSettings::DefaultPath() in the program).
    TfSpamDatabase(std::string path, core::TPrompter& prompter, QWidget* parent = nullptr);
    // Stops a test still running and waits for its thread.
    ~TfSpamDatabase() override;

    // The buttons.
    void AddClick();
    void RemoveClick();
    void TestClick();
    void CloseClick();
    // Every way of closing (Close, Escape, the window's close box) writes the list first.
    void done(int result) override;

    // Shows the verdicts beside the rows of `zones` (names in any letter case) and sums them up
    // below the list. The end of a test calls it; it changes nothing in the file.
    void ShowVerdicts(const std::vector<std::string>& zones,
                      const std::vector<classify::TZoneVerdict>& verdicts);
    bool Testing() const { return Thread_.joinable(); }

signals:
    // A test ended with verdicts or an error (not when it was stopped by closing).
    void TestFinished();

private:
    void FillList();
    QTreeWidgetItem* AddRow(const std::string& name, bool ticked);
    void UpdateButtons();
    // Writes the rows; false when writing failed and the user chose to stay.
    bool Save();
    // Ends a running test at once and drops its result.
    void StopTest();
    void TestDone(std::uint64_t run, const std::vector<std::string>& zones, const classify::TZoneCheck& check,
                  const std::string& error);

    std::string Path_;
    core::TPrompter& Prompter_;
    classify::TReadDatabaseSettings Settings_;
    // False when the file exists but could not be read: then closing must not write, since the rows
    // (none) are not the user's list and writing them would wipe it out.
    bool Readable_ = true;

    std::thread Thread_;
    std::shared_ptr<classify::TDnsCancel> Cancel_;
    std::uint64_t TestRun_ = 0; // numbers the tests, so that the answer of a stopped one is dropped

    QLineEdit* edServer = nullptr;
    QTreeWidget* lbServers = nullptr;
    QLabel* laTestResult = nullptr;
    QPushButton* buAdd = nullptr;
    QPushButton* buRemove = nullptr;
    QPushButton* buTest = nullptr;
    QPushButton* buClose = nullptr;
};

} // namespace tarnwick::gui
