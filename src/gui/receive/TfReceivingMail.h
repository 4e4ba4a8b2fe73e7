#pragma once

#include <optional>

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;
class QTreeWidget;

namespace tarnwick::gui {

// The strip that moves while a receive runs: a letter travelling from the server to the desktop,
// one step every 500 ms. Painted on the parent's background; stopped until Start.
class TReceiveAnimation : public QWidget
{
    Q_OBJECT

public:
    explicit TReceiveAnimation(QWidget* parent = nullptr);

    void Start();
    void Stop();
    bool IsRunning() const;
    int Frame() const { return Frame_; }

    static constexpr int FrameCount = 6;
    static constexpr int IntervalMs = 500;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer* Timer_ = nullptr;
    int Frame_ = 0;
};

// The window of one receive: what is being done, the progress, the spam servers that will be
// asked, and the errors. It may outlive its receive to show how the receive ended.
class TfReceivingMail : public QWidget
{
    Q_OBJECT

public:
    explicit TfReceivingMail(QWidget* parent = nullptr);

    // The first task row: a caption (with the working icon) or none (the ended icon), the status,
    // and the spam server count or none (an empty cell).
    void SetTask(const std::optional<QString>& caption, const QString& status, std::optional<int> servers);
    void AddError(const QString& text);
    // A row with the information icon in the errors list; the tab shown stays as it is.
    void AddNote(const QString& text);
    void SetOverallStatus(const QString& text);
    void SetStatus(const QString& text);
    void SetProgress(int percent);
    void SetStatusBar(const QString& text);
    // The account suffix: the name followed by "'".
    void SetAccount(const QString& name);
    // The caption: the text followed by the account suffix.
    void SetCaption(const QString& text);
    void ClearTasks();

    // Whether the main window's receive is still running; the animation starts when the window is
    // shown while it is. Closing the window only hides it; the main window can show it again.
    void SetReceiving(bool receiving);
    bool Receiving() const { return Receiving_; }
    // The receive is over: Stop is disabled and the animation stopped; a complete receive closes
    // the window, any other end leaves it open.
    void ReceiveEnded(bool finished);

    void buStopClick();
    void buHideClick();
    void buDetailsClick();
    bool DetailsShown() const { return DetailsShown_; }
    TReceiveAnimation& Animation() const { return *Animation_; }

    static constexpr int ClientWidth = 481;
    static constexpr int TopPanelHeight = 105;
    static constexpr int BottomPanelHeight = 150;
    static constexpr int StatusBarHeight = 21;

signals:
    // Stop was pressed: the receive is to end.
    void StopRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* paTop = nullptr;
    QWidget* paBottom = nullptr;
    TReceiveAnimation* Animation_ = nullptr;
    QLabel* lGlobalStatus = nullptr;
    QLabel* lStatus = nullptr;
    QProgressBar* gaGlobalProgress = nullptr;
    QPushButton* buHide = nullptr;
    QPushButton* buStop = nullptr;
    QPushButton* buDetails = nullptr;
    QTabWidget* pcDetails = nullptr;
    QTreeWidget* lvThreadInfo = nullptr;
    QTreeWidget* lvErrors = nullptr;
    QStatusBar* stbarStatus = nullptr;
    QLabel* StatusPart_ = nullptr;
    QString AccountSuffix_;
    bool DetailsShown_ = true;
    bool Receiving_ = false;
};

} // namespace tarnwick::gui
