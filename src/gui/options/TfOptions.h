#pragma once

#include <QDialog>

namespace tarnwick::gui {

// The options dialog: a tree of pages whose controls mirror the options record.
class TfOptions : public QDialog
{
    Q_OBJECT

public:
    explicit TfOptions(QWidget* parent = nullptr);
};

} // namespace tarnwick::gui
