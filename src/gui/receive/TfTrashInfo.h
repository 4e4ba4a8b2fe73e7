#pragma once

#include <functional>

#include <QDialog>

class QCheckBox;
class QPushButton;

namespace tarnwick::gui {

// The notice after a receive that put messages into the trash.
class TfTrashInfo : public QDialog
{
    Q_OBJECT

public:
    enum TResult
    {
        ResultOk,          // "&OK" or Escape: nothing further
        ResultShowDeleted, // "Show deleted emails": the main window shows the Trash
        ResultEmptyTrash,  // "Empty Trash Now !": the main window empties the trash
    };

    // `dontShowChanged` hears every change of "Don't show this message next time" with the new tick
    // (the options dialog's twin box follows it); it may be empty.
    explicit TfTrashInfo(QWidget* parent = nullptr, std::function<void(bool ticked)> dontShowChanged = {});

    TResult Result() const { return Result_; }
    // Shows the notice modally and returns the user's choice.
    static TResult Show(QWidget* parent, std::function<void(bool ticked)> dontShowChanged = {});

    static constexpr const char* Text =
        "Some message were found either spam or questionable and have therefor "
        "been deleted and placed into Trash folder.";

private:
    // "Don't show this message next time" switches the notice off (or on again) in the options.
    void cbDontShowClick(bool checked);

    QPushButton* buOK = nullptr;
    QPushButton* buShowDeleted = nullptr;
    QPushButton* buEmptyTrash = nullptr;
    QCheckBox* cbDontShow = nullptr;
    std::function<void(bool)> DontShowChanged_;
    TResult Result_ = ResultOk;
};

} // namespace tarnwick::gui
