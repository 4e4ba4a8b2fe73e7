// The main window's account commands: adding, importing and maintaining accounts, and the first
// start without any account.
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QTextBrowser>
#include <QTreeWidget>

#include "core/MessageTexts.h"
#include "core/TPrompter.h"
#include "gui/accounts/TfAcounts.h"
#include "gui/accounts/TfAddUserWizard.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"

namespace tarnwick::gui {

namespace {

constexpr const char* NoAccountsImport = "No Outlook Express accounts import is available on this system.";

void Warn(core::TPrompter& prompter, const std::exception& e)
{
    prompter.Inform(core::TMessageKind::Error, e.what());
}

} // namespace

int TfMain::RunDialog(QDialog& dialog)
{
    return RunModal_(dialog);
}

void TfMain::FirstStart()
{
    // No parent: the main window is not shown yet, the wizard stands on its own.
    TfAddUserWizard wizard(TfAddUserWizard::TMode::FirstStart, Admin_, Prompter_);
    if (RunModal_(wizard) != QDialog::Accepted)
        return;
    if (wizard.Outcome() == TfAddUserWizard::TOutcome::Import) {
        ImportAccountsClick();
        raise();
        activateWindow();
        return;
    }
    try {
        Admin_.SetCurrentUser(Admin_.MakeCurrent(Admin_.AddUser(wizard.UserID())));
        Admin_.SaveUsers();
        // Loading again replaces every account object: nothing may point at the old ones.
        ClearListAndTree();
        Admin_.LoadUsers();
        Admin_.MakeInitialCurrent();
    } catch (const std::exception& e) {
        Warn(Prompter_, e);
    }
}

bool TfMain::AddAccountWithWizard(QWidget* parent)
{
    TfAddUserWizard wizard(TfAddUserWizard::TMode::Normal, Admin_, Prompter_, parent);
    if (RunModal_(wizard) != QDialog::Accepted || wizard.Outcome() != TfAddUserWizard::TOutcome::Ok)
        return false;
    const accounts::TUserID& id = wizard.UserID();
    if (!AccountChangeAllowed()) {
        // A receive or a fill works on the current account: the new one is only added.
        Admin_.AddUser(id);
    } else if (Admin_.CurrentUser() == nullptr) {
        SwitchToAccount(Admin_.AddUser(id));
    } else if (Prompter_.Ask(core::TMessageKind::Confirmation, std::string(core::texts::SwitchToNewUser),
                             {core::TAnswer::Yes, core::TAnswer::No}) == core::TAnswer::Yes) {
        SwitchToAccount(Admin_.AddUser(id));
    } else {
        Admin_.AddUser(id);
    }
    return true;
}

void TfMain::AddAccountClick()
{
    if (AddAccountWithWizard(this)) {
        try {
            Admin_.SaveUsers();
        } catch (const std::exception& e) {
            Warn(Prompter_, e);
        }
    }
    BuildAccountMenus();
}

std::optional<std::vector<accounts::TUserID>> TfMain::RunAccountsImport(QWidget* parent)
{
    if (!Commands_.ImportAccounts) {
        Prompter_.Inform(core::TMessageKind::Information, NoAccountsImport);
        return std::nullopt;
    }
    return Commands_.ImportAccounts(parent);
}

void TfMain::ImportAccountsClick()
{
    if (!Commands_.ImportAccounts) {
        Prompter_.Inform(core::TMessageKind::Information, NoAccountsImport);
        return;
    }
    const auto imported = Commands_.ImportAccounts(this);
    if (imported && !imported->empty()) {
        std::size_t last = 0;
        for (const auto& id : *imported)
            last = Admin_.AddUser(id);
        if (AccountChangeAllowed()) {
            if (Admin_.CurrentUser() == nullptr)
                SwitchToAccount(last);
            else if (Prompter_.Ask(core::TMessageKind::Confirmation,
                                   std::string(core::texts::SwitchToNewUser),
                                   {core::TAnswer::Yes, core::TAnswer::No}) == core::TAnswer::Yes)
                SwitchToAccount(last);
        }
    }
    try {
        Admin_.SaveUsers();
    } catch (const std::exception& e) {
        Warn(Prompter_, e);
    }
    BuildAccountMenus();
}

void TfMain::AccountsClick()
{
    TfAcounts dialog(*this, Admin_, Prompter_, this);
    RunModal_(dialog);
}

void TfMain::ClearListAndTree()
{
    Model_->SetUser(nullptr);
    State_.AppliedNode = -1;
    tvFilters->clear();
    Nodes_.clear();
    rvPreview->clear();
    ShowListCounts();
    UpdateCommandStates();
}

bool TfMain::SwitchToAccount(std::size_t index)
{
    if (!AccountChangeAllowed())
        return false;
    ClearListAndTree();
    Admin_.SetCurrentUser(Admin_.MakeCurrent(index));
    return true;
}

void TfMain::SetAccountItemsVisible(std::size_t index, bool visible)
{
    for (QMenu* menu : {menuReceive, popupMoreUsers}) {
        const auto items = menu->actions();
        const auto position = static_cast<qsizetype>(index) + 2;
        if (position < items.size())
            items[position]->setVisible(visible);
    }
}

void TfMain::ShowAccountCaption()
{
    const accounts::TUser* user = Admin_.CurrentUser();
    QTreeWidgetItem* root = NodeAt(0);
    if (user == nullptr || root == nullptr)
        return;
    const accounts::TUserID& id = user->ID();
    root->setText(0, QStringLiteral("User: ") + QString::fromStdString(id.DisplayName) +
                         QStringLiteral(" (") + QString::fromStdString(id.Host) + QStringLiteral(")"));
}

} // namespace tarnwick::gui
