#include "gui/receive/TfTrashInfo.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "core/Modules.h"
#include "core/TOptionRec.h"

namespace tarnwick::gui {

TfTrashInfo::TfTrashInfo(QWidget* parent, std::function<void(bool ticked)> dontShowChanged)
    : QDialog(parent)
    , DontShowChanged_(std::move(dontShowChanged))
{
    setObjectName(QStringLiteral("fTrashInfo"));
    setWindowTitle(QStringLiteral("Information"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("imPicture"));
    QIcon icon = QIcon::fromTheme(QStringLiteral("user-trash-full"));
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_TrashIcon);
    picture->setPixmap(icon.pixmap(48, 48));
    picture->setAlignment(Qt::AlignTop);
    auto* text = new QLabel(QString::fromLatin1(Text), this);
    text->setObjectName(QStringLiteral("lText"));
    text->setWordWrap(true);
    text->setMinimumWidth(330);

    buOK = new QPushButton(QStringLiteral("&OK"), this);
    buOK->setObjectName(QStringLiteral("buOK"));
    buOK->setDefault(true);
    buShowDeleted = new QPushButton(QStringLiteral("Show deleted emails"), this);
    buShowDeleted->setObjectName(QStringLiteral("buShowDeleted"));
    buEmptyTrash = new QPushButton(QStringLiteral("Empty Trash Now !"), this);
    buEmptyTrash->setObjectName(QStringLiteral("buEmptyTrash"));
    for (QPushButton* button : {buShowDeleted, buEmptyTrash})
        button->setAutoDefault(false);
    cbDontShow = new QCheckBox(QStringLiteral("Don't show this message next time"), this);
    cbDontShow->setObjectName(QStringLiteral("cbDontShow"));

    const auto finish = [this](TResult result) {
        Result_ = result;
        accept();
    };
    connect(buOK, &QPushButton::clicked, this, [finish] { finish(ResultOk); });
    connect(buShowDeleted, &QPushButton::clicked, this, [finish] { finish(ResultShowDeleted); });
    connect(buEmptyTrash, &QPushButton::clicked, this, [finish] { finish(ResultEmptyTrash); });
    connect(cbDontShow, &QCheckBox::toggled, this, &TfTrashInfo::cbDontShowClick);

    auto* message = new QHBoxLayout;
    message->addWidget(picture);
    message->addSpacing(8);
    message->addWidget(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(buOK);
    buttons->addWidget(buShowDeleted);
    buttons->addWidget(buEmptyTrash);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(message);
    layout->addSpacing(6);
    layout->addWidget(cbDontShow);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TfTrashInfo::cbDontShowClick(bool checked)
{
    // The field is kept in memory; the options dialog's next OK stores it with the others.
    if (const auto options = core::Options()) {
        core::TOptionRec changed = *options;
        changed.TrashNotEmptyAfterReceive = checked ? "0" : "1";
        core::PublishOptions(std::move(changed));
    }
    if (DontShowChanged_)
        DontShowChanged_(checked);
}

TfTrashInfo::TResult TfTrashInfo::Show(QWidget* parent, std::function<void(bool ticked)> dontShowChanged)
{
    TfTrashInfo dialog(parent, std::move(dontShowChanged));
    // Escape rejects the dialog, which leaves the result at "&OK".
    dialog.exec();
    return dialog.Result();
}

} // namespace tarnwick::gui
