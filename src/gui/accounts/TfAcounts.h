#pragma once

#include <QDialog>

class QPushButton;
class QTreeWidget;

namespace tarnwick::accounts {
class TAdmin;
}
namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::gui {

class TfMain;

// The accounts dialog: the list of accounts with the check marks that show them in the receive
// menus, and the commands to add, remove, edit, switch to, make default and import accounts. The
// accounts are saved when the dialog closes.
class TfAcounts : public QDialog
{
    Q_OBJECT

public:
    TfAcounts(TfMain& main, accounts::TAdmin& admin, core::TPrompter& prompter, QWidget* parent = nullptr);

    // The buttons.
    void AddClick();
    void RemoveClick();
    void PropertiesClick();
    void SwitchToClick();
    void SetDefaultClick();
    void ImportClick();
    void CloseClick();
    // Escape and the window's close button close the dialog as "&Close" does.
    void reject() override;

    // Row of the selected account, or -1.
    int SelectedIndex() const;
    void SelectRow(int row);
    // Enables the buttons for the selection and the main window's state.
    void UpdateButtons();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillList();
    void CheckMarksChanged();
    void Save();

    TfMain& Main_;
    accounts::TAdmin& Admin_;
    core::TPrompter& Prompter_;
    bool Filling_ = false;

    QTreeWidget* lvAccounts = nullptr;
    QPushButton* buAdd = nullptr;
    QPushButton* buRemove = nullptr;
    QPushButton* buProperties = nullptr;
    QPushButton* buSwitch = nullptr;
    QPushButton* buDefault = nullptr;
    QPushButton* buImport = nullptr;
    QPushButton* buClose = nullptr;
};

} // namespace tarnwick::gui
