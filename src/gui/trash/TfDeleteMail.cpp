#include "TfDeleteMail.h"

#include <algorithm>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QThread>
#include <QVBoxLayout>

#include "gui/trash/TRecycleAnimation.h"

namespace tarnwick::gui {

TfDeleteMail::TfDeleteMail(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("fDeleteMail"));
    setWindowTitle(QStringLiteral("Deleting mails"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 10, 0, 0);
    layout->setSpacing(8);

    aniDelete = new TRecycleAnimation(this);
    layout->addWidget(aniDelete, 0, Qt::AlignHCenter);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 0, 12, 0);
    body->setSpacing(8);
    pbDelete = new QProgressBar(this);
    pbDelete->setObjectName(QStringLiteral("pbDelete"));
    pbDelete->setRange(0, 100);
    pbDelete->setValue(0);
    pbDelete->setTextVisible(false);
    body->addWidget(pbDelete);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buStop = new QPushButton(QStringLiteral("&Stop"), this);
    buStop->setObjectName(QStringLiteral("buStop"));
    buStop->setDefault(true);
    connect(buStop, &QPushButton::clicked, this, &TfDeleteMail::Stop);
    buttons->addWidget(buStop);
    buttons->addStretch(1);
    body->addLayout(buttons);
    layout->addLayout(body);

    auto* bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("stbarDelete"));
    bar->setSizeGripEnabled(false);
    stbarDelete = new QLabel(bar);
    stbarDelete->setObjectName(QStringLiteral("stbarDeletePanel0"));
    bar->addWidget(stbarDelete, 1);
    layout->addWidget(bar);

    setFixedWidth(340);
}

TfDeleteMail::~TfDeleteMail() = default;

void TfDeleteMail::OnWindowThread(const std::function<void()>& show)
{
    if (QThread::currentThread() == thread())
        show();
    else
        QMetaObject::invokeMethod(this, show, Qt::BlockingQueuedConnection);
}

void TfDeleteMail::SetStatus(const std::string& text)
{
    const QString status = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    OnWindowThread([this, status] { ShowStatus(status); });
}

void TfDeleteMail::SetProgress(int percent)
{
    if (QThread::currentThread() == thread()) {
        ShowProgress(percent);
        QCoreApplication::processEvents();
        return;
    }
    OnWindowThread([this, percent] { ShowProgress(percent); });
}

void TfDeleteMail::ShowStatus(const QString& text)
{
    stbarDelete->setText(QStringLiteral(" ") + text);
    emit StatusChanged(text);
}

void TfDeleteMail::ShowProgress(int percent)
{
    pbDelete->setValue(std::clamp(percent, 0, 100));
    emit ProgressChanged(percent);
}

QString TfDeleteMail::StatusText() const
{
    return stbarDelete->text();
}

int TfDeleteMail::Progress() const
{
    return pbDelete->value();
}

void TfDeleteMail::Stop()
{
    GoOn_ = false;
    buStop->setEnabled(false);
    if (StopHandler_)
        StopHandler_();
}

void TfDeleteMail::Finish()
{
    Finished_ = true;
    close();
}

void TfDeleteMail::showEvent(QShowEvent* event)
{
    // Over the middle of the window that started the deletion.
    if (const QWidget* owner = parentWidget())
        move(owner->frameGeometry().center() - QPoint(width() / 2, height() / 2));
    QWidget::showEvent(event);
}

void TfDeleteMail::closeEvent(QCloseEvent* event)
{
    if (Finished_) {
        event->accept();
        return;
    }
    event->ignore();
    if (GoOn_)
        Stop();
}

void TfDeleteMail::keyPressEvent(QKeyEvent* event)
{
    // Escape would close an ordinary tool window; here it is the Stop button.
    if (event->key() == Qt::Key_Escape) {
        if (GoOn_)
            Stop();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tarnwick::gui
