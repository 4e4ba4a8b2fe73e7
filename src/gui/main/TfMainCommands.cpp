// The main window's message commands: selecting rows, the trash, and moving senders to the lists.
#include "gui/main/TfMain.h"

namespace tarnwick::gui {

void TfMain::SelectAllClick() {}

void TfMain::DeselectAllClick() {}

void TfMain::DeleteSelectedClick() {}

void TfMain::UndeleteSelectedClick() {}

void TfMain::EmptyTrashClick() {}

void TfMain::AddSenderToBlackClick() {}

void TfMain::AddSenderToWhiteClick() {}

} // namespace tarnwick::gui
