#pragma once

#include <QMainWindow>

namespace tarnwick::gui {

// The main window.
class TfMain : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfMain(QWidget* parent = nullptr);
};

} // namespace tarnwick::gui
