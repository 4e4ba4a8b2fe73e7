#include "TRecycleAnimation.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>
#include <QTimer>

namespace tarnwick::gui {

namespace {

constexpr int BinSize = 48;
constexpr int SheetSize = 24;
constexpr int Width = 200;
constexpr int Height = 72;

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback)
{
    const QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
    return icon.isNull() ? QApplication::style()->standardIcon(fallback) : icon;
}

} // namespace

TRecycleAnimation::TRecycleAnimation(QWidget* parent)
    : QWidget(parent)
    , Timer_(new QTimer(this))
    , Bin_(ThemeIcon("user-trash-full", QStyle::SP_TrashIcon))
    , Sheet_(ThemeIcon("text-x-generic", QStyle::SP_FileIcon))
{
    setObjectName(QStringLiteral("aniDelete"));
    Timer_->setInterval(FrameIntervalMs);
    connect(Timer_, &QTimer::timeout, this, [this] {
        Frame_ = (Frame_ + 1) % FrameCount;
        update();
    });
}

QSize TRecycleAnimation::sizeHint() const
{
    return {Width, Height};
}

void TRecycleAnimation::HoldFrame(int frame)
{
    Timer_->stop();
    Frame_ = ((frame % FrameCount) + FrameCount) % FrameCount;
    update();
}

void TRecycleAnimation::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Timer_->start();
}

void TRecycleAnimation::hideEvent(QHideEvent* event)
{
    Timer_->stop();
    QWidget::hideEvent(event);
}

void TRecycleAnimation::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const int left = (width() - Width) / 2;
    const int top = (height() - Height) / 2;
    const QRect binRect(left + Width - BinSize - 8, top + Height - BinSize - 2, BinSize, BinSize);

    // The sheet starts at the left edge, rises and falls into the bin's mouth, shrinking on the way.
    const double t = static_cast<double>(Frame_) / (FrameCount - 1);
    const double startX = left + 8;
    const double endX = binRect.center().x() - SheetSize / 2.0;
    const double startY = top + Height - SheetSize - 8;
    const double endY = binRect.top() + 6;
    const double x = startX + (endX - startX) * t;
    const double y = startY + (endY - startY) * t - 4.0 * 30.0 * t * (1.0 - t);
    const int size = static_cast<int>(SheetSize * (1.0 - 0.35 * t));
    const QRect sheetRect(static_cast<int>(x), static_cast<int>(y), size, size);

    // Near the end the bin is drawn over the sheet, so the sheet drops into it.
    const bool inside = t > 0.8;
    if (inside)
        painter.drawPixmap(sheetRect, Sheet_.pixmap(SheetSize, SheetSize));
    painter.drawPixmap(binRect, Bin_.pixmap(BinSize, BinSize));
    if (!inside)
        painter.drawPixmap(sheetRect, Sheet_.pixmap(SheetSize, SheetSize));
}

} // namespace tarnwick::gui
