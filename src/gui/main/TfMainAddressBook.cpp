// The main window's Address Book command: the desktop's contacts program.
#include "gui/main/TfMain.h"

namespace tarnwick::gui {

void TfMain::AddressBook1Click() {}

} // namespace tarnwick::gui
