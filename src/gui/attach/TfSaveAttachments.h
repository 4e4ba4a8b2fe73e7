#pragma once

#include <QDialog>

#include "gui/accounts/TModalRunner.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace tarnwick::core {
class TPrompter;
}
namespace tarnwick::mime {
class TDecodeAttach;
}

namespace tarnwick::gui {

class TFBrowse;

// "Save attachments": the attachments of one message with check marks and the folder to save the
// checked ones into. Each file gets a safe name made from the attachment's name (never a path, so a
// hostile name cannot leave the folder); a file already there is replaced only when the user agrees.
// A file that cannot be written is reported with its cause and the next attachment follows.
class TfSaveAttachments : public QDialog
{
    Q_OBJECT

public:
    // `browser` is the folder browser of "..."; `runModal` shows it.
    TfSaveAttachments(core::TPrompter& prompter, TFBrowse& browser, TModalRunner runModal,
                      QWidget* parent = nullptr);

    // Lists the decoder's attachments, all checked. The decoder must outlive the dialog.
    void Fill(const mime::TDecodeAttach& decoder);

    // The folder of EDirectory's text, or the Downloads folder when it is empty.
    QString TargetFolder() const;
    // The user's Downloads folder, or the home folder when there is none.
    static QString DownloadsFolder();

    void BTBrowseClick();
    void BTSaveClick();

private:
    core::TPrompter& Prompter_;
    TFBrowse& Browser_;
    TModalRunner RunModal_;
    const mime::TDecodeAttach* Decoder_ = nullptr;

    QTreeWidget* lvAttach = nullptr;
    QLineEdit* EDirectory = nullptr;
    QPushButton* BTBrowse = nullptr;
    QPushButton* BTSave = nullptr;
    QPushButton* BTCancel = nullptr;
};

} // namespace tarnwick::gui
