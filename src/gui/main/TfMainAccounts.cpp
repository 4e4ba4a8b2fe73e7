// The main window's account commands: adding, importing and maintaining accounts.
#include "gui/main/TfMain.h"

namespace tarnwick::gui {

void TfMain::AddAccountClick() {}

void TfMain::ImportAccountsClick() {}

void TfMain::AccountsClick() {}

} // namespace tarnwick::gui
