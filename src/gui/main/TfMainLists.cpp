// The main window's commands for the Black and White list windows.
#include "gui/main/TfMain.h"

namespace tarnwick::gui {

void TfMain::BlackList1Click() {}

void TfMain::WhiteList1Click() {}

} // namespace tarnwick::gui
