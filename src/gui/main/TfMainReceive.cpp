// The main window's receive: the receive command, the receiving window and the trash notice.
#include "gui/main/TfMain.h"

namespace tarnwick::gui {

void TfMain::ReceiveClick(int tag)
{
    (void)tag;
    if (Commands_.Receive)
        ReceiveRequested(Commands_.Receive);
}

void TfMain::ShowReceivingWindow() {}

} // namespace tarnwick::gui
