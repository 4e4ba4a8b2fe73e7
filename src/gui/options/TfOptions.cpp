#include "TfOptions.h"

namespace tarnwick::gui {

TfOptions::TfOptions(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("fOptions"));
    setWindowTitle(QStringLiteral("Options"));
}

} // namespace tarnwick::gui
