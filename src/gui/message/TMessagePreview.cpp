#include "gui/message/TMessagePreview.h"

#include <QAction>
#include <QActionGroup>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>

#include "gui/message/TFullMessageLoader.h"
#include "gui/viewer/TMessageBrowser.h"

namespace tarnwick::gui {

TMessagePreview::TMessagePreview(core::TPrompter& prompter, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("paMsgControl"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* modes = new QToolBar(this);
    modes->setObjectName(QStringLiteral("toolbMsgControl"));
    modes->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    const int small = style()->pixelMetric(QStyle::PM_SmallIconSize);
    modes->setIconSize(QSize(small, small));
    auto* group = new QActionGroup(this);
    group->setExclusive(true);
    struct TButton
    {
        const char* Name;
        const char* Text;
        const char* Icon;
        QStyle::StandardPixmap Fallback;
    };
    const TButton buttons[] = {
        {"tbMessageInfo", "Message Info", "dialog-information", QStyle::SP_MessageBoxInformation},
        {"tbMessageHeader", "Message Header", "text-x-generic", QStyle::SP_FileDialogDetailedView},
        {"tbMessageFull", "Full Message", "mail-message", QStyle::SP_FileIcon},
    };
    for (int mode = 0; mode < 3; ++mode) {
        auto* button = new QAction(QIcon::fromTheme(QString::fromLatin1(buttons[mode].Icon),
                                                    style()->standardIcon(buttons[mode].Fallback)),
                                   QString::fromLatin1(buttons[mode].Text), this);
        button->setObjectName(QString::fromLatin1(buttons[mode].Name));
        button->setCheckable(true);
        button->setChecked(mode == ModeInfo);
        button->setData(mode);
        group->addAction(button);
        modes->addAction(button);
        connect(button, &QAction::triggered, this, [this, mode] { emit ModeClicked(mode); });
        Buttons_[static_cast<std::size_t>(mode)] = button;
    }
    layout->addWidget(modes);

    pgMessage = new QStackedWidget(this);
    pgMessage->setObjectName(QStringLiteral("pgMessage"));
    rvMsgInfo = new QTextBrowser(pgMessage);
    rvMsgInfo->setObjectName(QStringLiteral("rvMsgInfo"));
    rvMsgInfo->setOpenLinks(false);
    rvMsgInfo->setOpenExternalLinks(false);
    pgMessage->addWidget(rvMsgInfo);

    memoMsgHeader = new QPlainTextEdit(pgMessage);
    memoMsgHeader->setObjectName(QStringLiteral("memoMsgHeader"));
    memoMsgHeader->setReadOnly(true);
    memoMsgHeader->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoMsgHeader->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont memoFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    memoFont.setBold(true);
    memoMsgHeader->setFont(memoFont);
    pgMessage->addWidget(memoMsgHeader);

    webbrMsgFull = new TMessageBrowser(pgMessage);
    webbrMsgFull->setObjectName(QStringLiteral("webbrMsgFull"));
    webbrMsgFull->SetPrompter(&prompter);
    pgMessage->addWidget(webbrMsgFull);
    layout->addWidget(pgMessage, 1);

    Loader = new TFullMessageLoader(prompter, *webbrMsgFull, this);
}

int TMessagePreview::Mode() const
{
    return pgMessage->currentIndex();
}

void TMessagePreview::SetMode(int mode)
{
    if (mode < ModeInfo || mode > ModeFull)
        return;
    Buttons_[static_cast<std::size_t>(mode)]->setChecked(true);
    pgMessage->setCurrentIndex(mode);
}

} // namespace tarnwick::gui
