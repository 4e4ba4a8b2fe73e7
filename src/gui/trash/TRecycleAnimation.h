#pragma once

#include <QIcon>
#include <QWidget>

class QTimer;

namespace tarnwick::gui {

// The deletion window's animation: sheets of paper fly in an arc into a recycle bin, over and over,
// while the widget is shown.
class TRecycleAnimation : public QWidget
{
    Q_OBJECT

public:
    static constexpr int FrameCount = 16;
    static constexpr int FrameIntervalMs = 60;

    explicit TRecycleAnimation(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    int Frame() const { return Frame_; }
    // Shows one frame and holds it (screenshots).
    void HoldFrame(int frame);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer* Timer_ = nullptr;
    int Frame_ = 0;
    QIcon Bin_;
    QIcon Sheet_;
};

} // namespace tarnwick::gui
