#pragma once

#include <QMainWindow>

#include "gui/message/TRecordRef.h"

class QAction;
class QLabel;
class QTextBrowser;
class QToolBar;
class QWidget;

namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::gui {

class TFullMessageLoader;
class TMessageBrowser;
class TfMain;

// A message in a window of its own: the summary, the whole message, and commands to move through
// the main window's list, to trash the message, save it or move its sender to a list. The window
// remembers the record it shows, not a row number, so it notices when the message left the list.
class TfMailWindow : public QMainWindow
{
    Q_OBJECT

public:
    TfMailWindow(TfMain& main, core::TPrompter& prompter);
    ~TfMailWindow() override;

    // Shows the record of the main list's row.
    void ShowRow(int row);
    // The row of the main list that shows the record of this window, or -1 when it left the list.
    int ShownRow() const;
    const TRecordRef& Shown() const { return Shown_; }
    bool Busy() const { return Busy_; }

    void NextClick();
    void PreviousClick();
    void DeleteClick();
    void SaveAsClick();
    void SourceClick();
    void BlackClick();
    void WhiteClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void BuildMenus();
    void BuildToolBar();
    void BuildBody();
    void BuildStatusBar();
    void ReadGeometry();
    void WriteGeometry();
    void SetBusy(bool busy);
    // Moves to the row `step` places away in the main list, with the wrap-around question.
    void Step(int step);
    void MoveSender(bool black);
    // Runs a command; an error reaching its top is shown instead of escaping into Qt.
    void Guard(const std::function<void()>& command) noexcept;
    QAction* NewAction(const char* name, const QString& text, const QKeySequence& shortcut = {});

    TfMain& Main_;
    core::TPrompter& Prompter_;
    TRecordRef Shown_;
    bool Busy_ = false;

    QToolBar* TBand_ = nullptr;
    QAction* TBDelete = nullptr;
    QAction* TBPrevious = nullptr;
    QAction* TBNext = nullptr;
    QAction* CreateRule = nullptr;
    QAction* Black = nullptr;
    QAction* White = nullptr;
    QAction* TBSource = nullptr;
    QAction* SaveAs_ = nullptr;
    QAction* DeleteMessage_ = nullptr;
    QAction* NextMessage_ = nullptr;
    QAction* PreviousMessage_ = nullptr;
    QAction* ViewToolbar_ = nullptr;
    QAction* ViewInfo_ = nullptr;
    QAction* ViewStatus_ = nullptr;
    QWidget* PNPriority = nullptr;
    QLabel* IMPriority_ = nullptr;
    QLabel* LBPriority = nullptr;
    QWidget* PNMessageInfo = nullptr;
    QTextBrowser* RichView1 = nullptr;
    TMessageBrowser* WebBrowser1 = nullptr;
    TFullMessageLoader* Loader_ = nullptr;
    std::array<QLabel*, 3> Panels_{};
};

} // namespace tarnwick::gui
