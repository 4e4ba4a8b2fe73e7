#include "gui/accounts/TDialogHeader.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace tarnwick::gui {

TDialogHeader::TDialogHeader(const QIcon& icon, bool movesWindow, QWidget* parent)
    : QWidget(parent)
    , MovesWindow_(movesWindow)
{
    setObjectName(QStringLiteral("imHeader"));
    setMinimumHeight(58);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 6, 10, 6);
    laTitle = new QLabel(this);
    laTitle->setObjectName(QStringLiteral("laTitle"));
    QFont font = laTitle->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    laTitle->setFont(font);
    QPalette palette = laTitle->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    laTitle->setPalette(palette);
    // Presses on the labels reach the strip, so the whole strip drags the window.
    laTitle->setAttribute(Qt::WA_TransparentForMouseEvents);
    imIcon = new QLabel(this);
    imIcon->setObjectName(QStringLiteral("imIcon"));
    imIcon->setAttribute(Qt::WA_TransparentForMouseEvents);
    SetIcon(icon);
    layout->addWidget(laTitle, 1);
    layout->addWidget(imIcon);
    if (MovesWindow_)
        setCursor(Qt::SizeAllCursor);
}

void TDialogHeader::SetTitle(const QString& title)
{
    laTitle->setText(title);
}

QString TDialogHeader::Title() const
{
    return laTitle->text();
}

void TDialogHeader::SetIcon(const QIcon& icon)
{
    // Some style icons come in small sizes only; the header shows every picture at one size.
    constexpr int Size = 40;
    QPixmap pixmap = icon.pixmap(Size, Size);
    if (!pixmap.isNull() && pixmap.width() < Size)
        pixmap = pixmap.scaled(Size, Size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    imIcon->setPixmap(pixmap);
}

void TDialogHeader::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient shade(rect().topLeft(), rect().topRight());
    shade.setColorAt(0.0, QColor(0x1f, 0x3f, 0x73));
    shade.setColorAt(1.0, QColor(0x5d, 0x8c, 0xc8));
    painter.fillRect(rect(), shade);
}

void TDialogHeader::mousePressEvent(QMouseEvent* event)
{
    if (!MovesWindow_ || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    Dragging_ = true;
    GrabOffset_ = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
    event->accept();
}

void TDialogHeader::mouseMoveEvent(QMouseEvent* event)
{
    if (!Dragging_) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    window()->move(event->globalPosition().toPoint() - GrabOffset_);
    event->accept();
}

void TDialogHeader::mouseReleaseEvent(QMouseEvent* event)
{
    Dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

} // namespace tarnwick::gui
