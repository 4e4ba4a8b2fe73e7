// The main window's Address Book command: the desktop's contacts program.
#include "core/TPrompter.h"
#include "gui/common/TContactsProgram.h"
#include "gui/main/TfMain.h"

namespace tarnwick::gui {

void TfMain::AddressBook1Click()
{
    const TContactsStart start = TContactsProgram().Start();
    if (!start.Started)
        Prompter_.Inform(core::TMessageKind::Information, start.Message);
}

} // namespace tarnwick::gui
