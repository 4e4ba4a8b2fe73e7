#pragma once

#include <array>

#include <QWidget>

class QAction;
class QPlainTextEdit;
class QStackedWidget;
class QTextBrowser;
class QToolBar;

namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::gui {

class TFullMessageLoader;
class TMessageBrowser;

// The preview under the main window's message list (`paMsgControl`): three mode buttons and one
// page per mode: the message info, the header lines and the full message.
class TMessagePreview : public QWidget
{
    Q_OBJECT

public:
    enum TMode : int
    {
        ModeInfo = 0,
        ModeHeader = 1,
        ModeFull = 2,
    };

    TMessagePreview(core::TPrompter& prompter, QWidget* parent = nullptr);

    int Mode() const;
    // Presses the mode's button and selects its page; shows nothing.
    void SetMode(int mode);
    QAction* ModeButton(int mode) const { return Buttons_.at(static_cast<std::size_t>(mode)); }

    QTextBrowser* rvMsgInfo = nullptr;
    QPlainTextEdit* memoMsgHeader = nullptr;
    TMessageBrowser* webbrMsgFull = nullptr;
    TFullMessageLoader* Loader = nullptr;

signals:
    // A mode button was pressed.
    void ModeClicked(int mode);

private:
    std::array<QAction*, 3> Buttons_{};
    QStackedWidget* pgMessage = nullptr;
};

} // namespace tarnwick::gui
