// The main window's commands for the Black and White list windows.
#include "gui/lists/TfAddressList.h"
#include "gui/main/TfMain.h"

namespace tarnwick::gui {

TfAddressList& TfMain::BlackListWindow()
{
    if (BlackList_ == nullptr)
        BlackList_ = new TfBlackList(Prompter_, this);
    return *BlackList_;
}

TfAddressList& TfMain::WhiteListWindow()
{
    if (WhiteList_ == nullptr)
        WhiteList_ = new TfWhiteList(Prompter_, this);
    return *WhiteList_;
}

void TfMain::BlackList1Click()
{
    RunDialog(BlackListWindow());
}

void TfMain::WhiteList1Click()
{
    RunDialog(WhiteListWindow());
}

} // namespace tarnwick::gui
