// The main window's commands for the settings of the advanced views.
#include "gui/main/TfMain.h"

namespace tarnwick::gui {

void TfMain::AdvancedFilters1Click() {}

void TfMain::RuleSettings1Click() {}

} // namespace tarnwick::gui
