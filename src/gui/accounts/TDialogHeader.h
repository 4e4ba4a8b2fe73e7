#pragma once

#include <QPoint>
#include <QWidget>

class QLabel;

namespace tarnwick::gui {

// The header strip of the account dialogs: a stretched shaded picture with a title and an icon.
// When it moves its window, pressing the mouse on the strip and dragging moves the dialog.
class TDialogHeader : public QWidget
{
    Q_OBJECT

public:
    TDialogHeader(const QIcon& icon, bool movesWindow, QWidget* parent = nullptr);

    void SetTitle(const QString& title);
    QString Title() const;
    void SetIcon(const QIcon& icon);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QLabel* laTitle = nullptr;
    QLabel* imIcon = nullptr;
    bool MovesWindow_;
    bool Dragging_ = false;
    QPoint GrabOffset_; // from the window's top left corner to the mouse, in global coordinates
};

} // namespace tarnwick::gui
