#pragma once

#include <QDialog>

#include "accounts/TUserID.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace tarnwick::accounts {
class TAdmin;
}
namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::gui {

class TDialogHeader;
class TServerPortFields;

// The Add User Wizard: display name, server, logon and a last page, one step at a time. At the
// program's first start it opens on a start page that offers the import from Outlook Express
// instead of the manual set-up.
class TfAddUserWizard : public QDialog
{
    Q_OBJECT

public:
    enum class TMode
    {
        Normal,
        FirstStart,
    };
    enum class TOutcome
    {
        Cancel,
        Ok,
        Import, // first start: the user chose the import from Outlook Express
    };

    TfAddUserWizard(TMode mode, accounts::TAdmin& admin, core::TPrompter& prompter,
                    QWidget* parent = nullptr);

    TMode Mode() const { return Mode_; }
    // 0 on the start page, else the page 1 to 4.
    int Step() const { return Step_; }
    TOutcome Outcome() const { return Outcome_; }
    // The identity taken from the fields when the wizard closed.
    const accounts::TUserID& UserID() const { return UserID_; }

    // The buttons.
    void NextClick();
    void BackClick();
    // Cancel, Escape and the window's close button: asks whether to leave the wizard.
    void reject() override;
    void done(int result) override;

    // What becomes of the wizard each time it becomes the active window: the start page at first
    // start, else page 1 with empty fields.
    void ResetWizard();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildPages();
    QWidget* BuildStartPage();
    void ResetToPage1();
    void ShowStep(int step);
    void NextCheck();
    void TakeResult(bool finished);

    accounts::TAdmin& Admin_;
    core::TPrompter& Prompter_;
    TMode Mode_;
    int Step_ = 1;
    TOutcome Outcome_ = TOutcome::Cancel;
    accounts::TUserID UserID_;
    bool ResultTaken_ = false;

    TDialogHeader* imHeader = nullptr;
    QStackedWidget* nbPages = nullptr;
    QLineEdit* edDisplayName = nullptr;
    QLineEdit* edServer = nullptr;
    TServerPortFields* paServerPort = nullptr;
    QLineEdit* edAccountName = nullptr;
    QLineEdit* edPassword = nullptr;
    QCheckBox* cbRememberPassword = nullptr;
    QCheckBox* cbDefault = nullptr;
    QRadioButton* rbManual = nullptr;
    QRadioButton* rbImport = nullptr;
    QPushButton* buBack = nullptr;
    QPushButton* buNext = nullptr;
    QPushButton* buCancel = nullptr;
};

} // namespace tarnwick::gui
