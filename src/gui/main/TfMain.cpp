#include "TfMain.h"

#include <QLabel>

namespace tarnwick::gui {

TfMain::TfMain(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("fMain"));
    setWindowTitle(QStringLiteral("Orvalent Tarnwick"));
    auto* welcome = new QLabel(QStringLiteral("Tarnwick"), this);
    welcome->setObjectName(QStringLiteral("Presentation"));
    welcome->setAlignment(Qt::AlignCenter);
    setCentralWidget(welcome);
    resize(800, 500);
}

} // namespace tarnwick::gui
