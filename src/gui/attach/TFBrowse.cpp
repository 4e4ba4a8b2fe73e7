#include "gui/attach/TFBrowse.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace tarnwick::gui {

TFBrowse::TFBrowse(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("FBrowse"));
    setWindowTitle(QStringLiteral("Browse for folder"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    Model_ = new QFileSystemModel(this);
    Model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    Model_->setRootPath(QStringLiteral("/"));
    tvFolders = new QTreeView(this);
    tvFolders->setObjectName(QStringLiteral("tvFolders"));
    tvFolders->setModel(Model_);
    tvFolders->setHeaderHidden(true);
    // The name alone: size, kind and date say nothing about a folder to save into.
    for (int column = 1; column < Model_->columnCount(); ++column)
        tvFolders->hideColumn(column);
    tvFolders->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(tvFolders->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { UpdateOkButton(); });

    BTOk = new QPushButton(QStringLiteral("OK"), this);
    BTOk->setObjectName(QStringLiteral("BTOk"));
    BTOk->setDefault(true);
    BTCancel = new QPushButton(QStringLiteral("Cancel"), this);
    BTCancel->setObjectName(QStringLiteral("BTCancel"));
    BTCancel->setAutoDefault(false);
    connect(BTOk, &QPushButton::clicked, this, [this] {
        // The folder may have gone since the selection changed.
        UpdateOkButton();
        if (BTOk->isEnabled())
            accept();
    });
    connect(BTCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BTOk);
    buttons->addWidget(BTCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tvFolders, 1);
    layout->addLayout(buttons);
    resize(313, 326);

    SetFolder(QDir::homePath());
}

QString TFBrowse::SelectedFolder() const
{
    const QModelIndex current = tvFolders->currentIndex();
    return current.isValid() ? Model_->filePath(current) : QString();
}

void TFBrowse::SetFolder(const QString& path)
{
    const QModelIndex index = Model_->index(QDir::cleanPath(path));
    for (QModelIndex above = index.parent(); above.isValid(); above = above.parent())
        tvFolders->expand(above);
    tvFolders->expand(index);
    tvFolders->setCurrentIndex(index);
    if (index.isValid())
        tvFolders->scrollTo(index);
    UpdateOkButton();
}

void TFBrowse::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    UpdateOkButton();
}

void TFBrowse::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        UpdateOkButton();
}

void TFBrowse::UpdateOkButton()
{
    const QString folder = SelectedFolder();
    BTOk->setEnabled(!folder.isEmpty() && QFileInfo(folder).isDir());
}

} // namespace tarnwick::gui
