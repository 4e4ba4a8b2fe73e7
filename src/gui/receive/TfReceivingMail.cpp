#include "gui/receive/TfReceivingMail.h"

#include <algorithm>

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarnwick::gui {

namespace {

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback)
{
    const QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
    return icon.isNull() ? QApplication::style()->standardIcon(fallback) : icon;
}

QIcon WorkingIcon()
{
    return ThemeIcon("emblem-synchronizing", QStyle::SP_BrowserReload);
}

QIcon EndedIcon()
{
    return ThemeIcon("emblem-default", QStyle::SP_DialogApplyButton);
}

QIcon ErrorIcon()
{
    return ThemeIcon("dialog-error", QStyle::SP_MessageBoxCritical);
}

// A closed envelope of the given size with its top-left corner at `at`.
void PaintLetter(QPainter& painter, QPointF at, QSizeF size, const QPalette& palette)
{
    const QRectF body(at, size);
    painter.setPen(QPen(palette.color(QPalette::Dark), 1.0));
    painter.setBrush(palette.color(QPalette::Base));
    painter.drawRect(body);
    painter.drawLine(body.topLeft(), QPointF(body.center().x(), body.center().y() + 1));
    painter.drawLine(body.topRight(), QPointF(body.center().x(), body.center().y() + 1));
}

} // namespace

// ---- animation ---------------------------------------------------------------------------------

TReceiveAnimation::TReceiveAnimation(QWidget* parent)
    : QWidget(parent)
    , Timer_(new QTimer(this))
{
    setObjectName(QStringLiteral("aniReceive"));
    setFixedSize(100, 48);
    Timer_->setInterval(IntervalMs);
    connect(Timer_, &QTimer::timeout, this, [this] {
        Frame_ = (Frame_ + 1) % FrameCount;
        update();
    });
}

void TReceiveAnimation::Start()
{
    if (!Timer_->isActive())
        Timer_->start();
}

void TReceiveAnimation::Stop()
{
    Timer_->stop();
    Frame_ = 0;
    update();
}

bool TReceiveAnimation::IsRunning() const
{
    return Timer_->isActive();
}

void TReceiveAnimation::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QIcon server = ThemeIcon("network-server", QStyle::SP_DriveNetIcon);
    const QIcon desktop = ThemeIcon("computer", QStyle::SP_ComputerIcon);
    server.paint(&painter, QRect(0, 8, 32, 32));
    desktop.paint(&painter, QRect(width() - 32, 8, 32, 32));
    // The track between the two, and the letter on it while the receive runs.
    const qreal left = 34;
    const qreal right = width() - 34;
    painter.setPen(QPen(palette().color(QPalette::Mid), 1.0, Qt::DotLine));
    painter.drawLine(QPointF(left, 24), QPointF(right, 24));
    if (!IsRunning())
        return;
    const QSizeF letter(14, 10);
    const qreal step = (right - left - letter.width()) / (FrameCount - 1);
    PaintLetter(painter, QPointF(left + step * Frame_, 19), letter, palette());
}

// ---- window ------------------------------------------------------------------------------------

TfReceivingMail::TfReceivingMail(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("fReceivingMail"));
    setWindowTitle(QStringLiteral("Receiving messages"));

    paTop = new QWidget(this);
    paTop->setObjectName(QStringLiteral("paTop"));
    paTop->setFixedHeight(TopPanelHeight);
    Animation_ = new TReceiveAnimation(paTop);
    lGlobalStatus = new QLabel(paTop);
    lGlobalStatus->setObjectName(QStringLiteral("lGlobalStatus"));
    lGlobalStatus->setAlignment(Qt::AlignCenter);
    lStatus = new QLabel(paTop);
    lStatus->setObjectName(QStringLiteral("lStatus"));
    lStatus->setAlignment(Qt::AlignCenter);
    for (QLabel* label : {lGlobalStatus, lStatus}) {
        // Long host names must not widen the fixed window.
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    gaGlobalProgress = new QProgressBar(paTop);
    gaGlobalProgress->setObjectName(QStringLiteral("gaGlobalProgress"));
    gaGlobalProgress->setRange(0, 100);
    gaGlobalProgress->setValue(0);
    gaGlobalProgress->setTextVisible(false);
    buHide = new QPushButton(QStringLiteral("Hide"), paTop);
    buHide->setObjectName(QStringLiteral("buHide"));
    buStop = new QPushButton(QStringLiteral("Stop"), paTop);
    buStop->setObjectName(QStringLiteral("buStop"));
    buDetails = new QPushButton(QStringLiteral("<<Details"), paTop);
    buDetails->setObjectName(QStringLiteral("buDetails"));
    for (QPushButton* button : {buHide, buStop, buDetails}) {
        button->setAutoDefault(false);
        button->setFixedWidth(75);
    }
    connect(buHide, &QPushButton::clicked, this, &TfReceivingMail::buHideClick);
    connect(buStop, &QPushButton::clicked, this, &TfReceivingMail::buStopClick);
    connect(buDetails, &QPushButton::clicked, this, &TfReceivingMail::buDetailsClick);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addStretch();
    texts->addWidget(lGlobalStatus);
    texts->addWidget(lStatus);
    texts->addStretch();
    auto* upper = new QHBoxLayout;
    upper->addWidget(Animation_);
    upper->addLayout(texts, 1);
    auto* lower = new QHBoxLayout;
    lower->addWidget(gaGlobalProgress, 1);
    lower->addSpacing(4);
    lower->addWidget(buHide);
    lower->addWidget(buStop);
    lower->addWidget(buDetails);
    auto* top = new QVBoxLayout(paTop);
    top->setContentsMargins(8, 6, 8, 6);
    top->addLayout(upper);
    top->addLayout(lower);

    paBottom = new QWidget(this);
    paBottom->setObjectName(QStringLiteral("paBottom"));
    paBottom->setFixedHeight(BottomPanelHeight);
    pcDetails = new QTabWidget(paBottom);
    pcDetails->setObjectName(QStringLiteral("pcDetails"));
    lvThreadInfo = new QTreeWidget;
    lvThreadInfo->setObjectName(QStringLiteral("lvThreadInfo"));
    lvThreadInfo->setHeaderLabels(
        {QStringLiteral("Tasks"), QStringLiteral("Status"), QStringLiteral("Spam Servers")});
    lvThreadInfo->setColumnWidth(0, 200);
    lvThreadInfo->setColumnWidth(1, 120);
    lvThreadInfo->setColumnWidth(2, 115);
    lvThreadInfo->setRootIsDecorated(false);
    lvThreadInfo->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvThreadInfo->setSelectionMode(QAbstractItemView::SingleSelection);
    lvErrors = new QTreeWidget;
    lvErrors->setObjectName(QStringLiteral("lvErrors"));
    lvErrors->setColumnCount(1);
    lvErrors->setHeaderHidden(true);
    lvErrors->setRootIsDecorated(false);
    lvErrors->setEditTriggers(QAbstractItemView::NoEditTriggers);
    pcDetails->addTab(lvThreadInfo, QStringLiteral("Tasks"));
    pcDetails->addTab(lvErrors, QStringLiteral("Errors"));
    auto* bottom = new QVBoxLayout(paBottom);
    bottom->setContentsMargins(4, 0, 4, 2);
    bottom->addWidget(pcDetails);

    stbarStatus = new QStatusBar(this);
    stbarStatus->setObjectName(QStringLiteral("stbarStatus"));
    stbarStatus->setFixedHeight(StatusBarHeight);
    stbarStatus->setSizeGripEnabled(false);
    StatusPart_ = new QLabel(stbarStatus);
    StatusPart_->setObjectName(QStringLiteral("stbarStatusPart0"));
    // One part of 240 pixels that grows for the longest speed name.
    StatusPart_->setMinimumWidth(240);
    stbarStatus->addWidget(StatusPart_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(paTop);
    layout->addWidget(paBottom);
    layout->addWidget(stbarStatus);
    // Folding the details away cuts the window below the top panel; the layout must not refuse.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    setFixedSize(ClientWidth, TopPanelHeight + BottomPanelHeight + StatusBarHeight);
}

void TfReceivingMail::SetTask(const std::optional<QString>& caption, const QString& status,
                              std::optional<int> servers)
{
    QTreeWidgetItem* row = lvThreadInfo->topLevelItem(0);
    if (row == nullptr)
        row = new QTreeWidgetItem(lvThreadInfo);
    if (caption) {
        row->setText(0, QStringLiteral("Checking for new messages on ") + *caption);
        row->setToolTip(0, row->text(0));
        row->setIcon(0, WorkingIcon());
    } else {
        row->setIcon(0, EndedIcon());
    }
    row->setText(1, status);
    row->setText(2, servers ? QStringLiteral("%1 server(s)").arg(*servers) : QString());
}

void TfReceivingMail::AddError(const QString& text)
{
    pcDetails->setCurrentWidget(lvErrors);
    auto* row = new QTreeWidgetItem(lvErrors, QStringList{text});
    row->setIcon(0, ErrorIcon());
    lvErrors->scrollToItem(row);
}

void TfReceivingMail::AddNote(const QString& text)
{
    auto* row = new QTreeWidgetItem(lvErrors, QStringList{text});
    row->setIcon(0, ThemeIcon("dialog-information", QStyle::SP_MessageBoxInformation));
    row->setToolTip(0, text);
    lvErrors->scrollToItem(row);
}

void TfReceivingMail::SetOverallStatus(const QString& text)
{
    lGlobalStatus->setText(text);
}

void TfReceivingMail::SetStatus(const QString& text)
{
    lStatus->setText(text);
}

void TfReceivingMail::SetProgress(int percent)
{
    gaGlobalProgress->setValue(std::clamp(percent, 0, 100));
}

void TfReceivingMail::SetStatusBar(const QString& text)
{
    StatusPart_->setText(text);
}

void TfReceivingMail::SetAccount(const QString& name)
{
    AccountSuffix_ = name + QStringLiteral("'");
}

void TfReceivingMail::SetCaption(const QString& text)
{
    setWindowTitle(text + AccountSuffix_);
}

void TfReceivingMail::ClearTasks()
{
    lvThreadInfo->clear();
}

void TfReceivingMail::SetReceiving(bool receiving)
{
    Receiving_ = receiving;
    if (receiving && isVisible())
        Animation_->Start();
}

void TfReceivingMail::ReceiveEnded(bool finished)
{
    Receiving_ = false;
    buStop->setEnabled(false);
    Animation_->Stop();
    if (finished)
        close();
}

void TfReceivingMail::buStopClick()
{
    Animation_->Stop();
    buStop->setEnabled(false);
    emit StopRequested();
}

void TfReceivingMail::buHideClick()
{
    hide();
}

void TfReceivingMail::buDetailsClick()
{
    if (DetailsShown_) {
        stbarStatus->hide();
        paBottom->hide();
        setFixedSize(ClientWidth, TopPanelHeight - 2);
        buDetails->setText(QStringLiteral("Details>>"));
    } else {
        paBottom->show();
        stbarStatus->show();
        setFixedSize(ClientWidth, TopPanelHeight + BottomPanelHeight + StatusBarHeight);
        buDetails->setText(QStringLiteral("<<Details"));
    }
    DetailsShown_ = !DetailsShown_;
}

void TfReceivingMail::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (Receiving_)
        Animation_->Start();
}

} // namespace tarnwick::gui
