// The main window's commands for the settings of the advanced views.
#include "core/Modules.h"
#include "core/TFolders.h"
#include "gui/filters/TfAdvFilterSettings.h"
#include "gui/main/TfMain.h"
#include "views/TAbstractFiltering.h"

namespace tarnwick::gui {

void TfMain::AdvancedFilters1Click()
{
    TfAdvFilterSettings dialog(
        *Registry_, Prompter_, core::Folders().DataFolder,
        [this](QDialog& shown) { return RunDialog(shown); }, -1, this);
    RunDialog(dialog);
    SelectPosition(views::ViewRoot);
}

void TfMain::RuleSettings1Click()
{
    const int position = SelectedPosition();
    if (position < views::ViewDuplicates || position > views::ViewVeryLarge) {
        // The settings of a user's rule belong to the rule commands.
        return;
    }
    TfAdvFilterSettings dialog(
        *Registry_, Prompter_, core::Folders().DataFolder,
        [this](QDialog& shown) { return RunDialog(shown); }, position - views::ViewDuplicates, this);
    if (RunDialog(dialog) != QDialog::Accepted)
        return;
    SelectPosition(NodeAt(position) != nullptr ? position : views::ViewUserFilters);
    RefreshView();
}

} // namespace tarnwick::gui
