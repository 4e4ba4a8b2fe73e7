// The main window's options command and the options dialog it keeps for the whole run.
#include "gui/main/TfMain.h"
#include "gui/options/TfOptions.h"

namespace tarnwick::gui {

TfOptions& TfMain::OptionsDialog()
{
    if (OptionsDialog_ == nullptr)
        OptionsDialog_ = new TfOptions(
            Prompter_, [this](QDialog& shown) { return RunDialog(shown); },
            [this]() -> TFBrowse& { return FolderBrowser(); }, this);
    return *OptionsDialog_;
}

void TfMain::Options1Click()
{
    RunDialog(OptionsDialog());
}

} // namespace tarnwick::gui
