#pragma once

#include <functional>

class QDialog;

namespace tarnwick::gui {

// Shows a dialog modally and returns its result code (QDialog::Accepted or Rejected). The program
// runs the dialog's own event loop; tests drive the dialog's controls instead and return its result.
using TModalRunner = std::function<int(QDialog&)>;

// The program's runner: QDialog::exec().
int RunModal(QDialog& dialog);

} // namespace tarnwick::gui
