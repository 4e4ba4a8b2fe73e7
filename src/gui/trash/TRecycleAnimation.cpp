#include "TRecycleAnimation.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>
#include <QTimer>

namespace tarnwick::gui {

namespace {

constexpr int BinSize = 48;
constexpr int SheetSize = 28;
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
    const double startX = left + 8;
    const double endX = binRect.center().x() - SheetSize / 2.0;
    const double startY = top + Height - SheetSize - 8;
    const double endY = binRect.top() + 6;
    const auto at = [&](double t) {
        return QPointF(startX + (endX - startX) * t,
                       startY + (endY - startY) * t - 4.0 * 30.0 * t * (1.0 - t));
    };
    const double t = static_cast<double>(Frame_) / (FrameCount - 1);
    const int size = static_cast<int>(SheetSize * (1.0 - 0.35 * t));
    const QPointF corner = at(t);
    const QRect sheetRect(static_cast<int>(corner.x()), static_cast<int>(corner.y()), size, size);

    // A dotted trail along the way the sheet has come.
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Mid));
    for (int step = 1; step < Frame_; ++step) {
        const QPointF dot =
            at(static_cast<double>(step) / (FrameCount - 1)) + QPointF(SheetSize / 2.0, SheetSize / 2.0);
        painter.drawEllipse(dot, 1.5, 1.5);
    }

    // Near the end the bin is drawn over the sheet, so the sheet drops into it.
    const bool inside = t > 0.8;
    if (inside)
        painter.drawPixmap(sheetRect, Sheet_.pixmap(SheetSize, SheetSize));
    painter.drawPixmap(binRect, Bin_.pixmap(BinSize, BinSize));
    if (!inside)
        painter.drawPixmap(sheetRect, Sheet_.pixmap(SheetSize, SheetSize));
}

} // namespace tarnwick::gui
