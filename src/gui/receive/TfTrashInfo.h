#pragma once

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

    explicit TfTrashInfo(QWidget* parent = nullptr);

    TResult Result() const { return Result_; }
    // Shows the notice modally and returns the user's choice.
    static TResult Show(QWidget* parent);

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
    TResult Result_ = ResultOk;
};

} // namespace tarnwick::gui
