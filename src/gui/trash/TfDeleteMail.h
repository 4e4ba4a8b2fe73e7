#pragma once

#include <functional>
#include <string>

#include <QWidget>

#include "engine/TDeleteMail.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace tarnwick::gui {

class TRecycleAnimation;

// The deletion window "Deleting mails": stays on top, has no system buttons, shows an animation,
// the progress of the deletion and its status, and offers "&Stop". It is the deletion's observer;
// the deletion may report from the thread it runs on, and each report then waits until the window
// has shown it, so a Stop pressed while a report is shown takes effect before the next DELE.
class TfDeleteMail : public QWidget, public engine::TDeleteObserver
{
    Q_OBJECT

public:
    explicit TfDeleteMail(QWidget* parent = nullptr);
    ~TfDeleteMail() override;

    // engine::TDeleteObserver. The status bar shows a blank followed by the text. SetProgress on
    // the window's own thread also processes the pending events, so that Stop can be pressed.
    void SetStatus(const std::string& text) override;
    void SetProgress(int percent) override;

    // Clears GoOn and passes the request on to the running deletion.
    void Stop();
    bool GoOn() const { return GoOn_; }
    void SetStopHandler(std::function<void()> handler) { StopHandler_ = std::move(handler); }
    // Closes the window once the deletion has ended.
    void Finish();

    QString StatusText() const;
    int Progress() const;
    TRecycleAnimation& Animation() { return *aniDelete; }

signals:
    void StatusChanged(const QString& text);
    void ProgressChanged(int percent);

protected:
    // The window has no close button; a close asked for by the window manager stops the deletion
    // instead, and the window closes when the deletion has ended.
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowStatus(const QString& text);
    void ShowProgress(int percent);
    // Runs `show` on the window's thread; from another thread it waits until it has run.
    void OnWindowThread(const std::function<void()>& show);

    bool GoOn_ = true;
    bool Finished_ = false;
    std::function<void()> StopHandler_;
    TRecycleAnimation* aniDelete = nullptr;
    QProgressBar* pbDelete = nullptr;
    QPushButton* buStop = nullptr;
    QLabel* stbarDelete = nullptr;
};

} // namespace tarnwick::gui
