#include "gui/accounts/TModalRunner.h"

#include <QDialog>

namespace tarnwick::gui {

int RunModal(QDialog& dialog)
{
    return dialog.exec();
}

} // namespace tarnwick::gui
