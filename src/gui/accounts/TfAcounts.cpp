#include "gui/accounts/TfAcounts.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "accounts/TAdmin.h"
#include "core/MessageTexts.h"
#include "core/Modules.h"
#include "core/TPrompter.h"
#include "gui/accounts/TfUserProperties.h"
#include "gui/main/TfMain.h"

namespace tarnwick::gui {

namespace {

QString Q(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TfAcounts::TfAcounts(TfMain& main, accounts::TAdmin& admin, core::TPrompter& prompter, QWidget* parent)
    : QDialog(parent)
    , Main_(main)
    , Admin_(admin)
    , Prompter_(prompter)
{
    setObjectName(QStringLiteral("fAcounts"));
    setWindowTitle(QStringLiteral("Accounts"));
    setModal(true);
    auto* layout = new QHBoxLayout(this);
    lvAccounts = new QTreeWidget(this);
    lvAccounts->setObjectName(QStringLiteral("lvAccounts"));
    lvAccounts->setHeaderLabels(
        {QStringLiteral("User name"), QStringLiteral("Server"), QStringLiteral("Organization")});
    lvAccounts->setRootIsDecorated(false);
    lvAccounts->setAllColumnsShowFocus(true);
    lvAccounts->setSelectionMode(QAbstractItemView::SingleSelection);
    lvAccounts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvAccounts->header()->resizeSection(0, 170);
    lvAccounts->header()->resizeSection(1, 140);
    lvAccounts->installEventFilter(this);
    lvAccounts->viewport()->installEventFilter(this);
    layout->addWidget(lvAccounts, 1);

    auto* buttons = new QVBoxLayout;
    auto button = [this, buttons](const char* name, const char* text, void (TfAcounts::*click)()) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, click] {
            (this->*click)();
            UpdateButtons();
        });
        buttons->addWidget(b);
        return b;
    };
    buAdd = button("buAdd", "&Add...", &TfAcounts::AddClick);
    buRemove = button("buRemove", "&Remove", &TfAcounts::RemoveClick);
    buProperties = button("buProperties", "&Properties...", &TfAcounts::PropertiesClick);
    buttons->addSpacing(10);
    buSwitch = button("buSwitch", "&Switch to", &TfAcounts::SwitchToClick);
    buDefault = button("buDefault", "Set as &default", &TfAcounts::SetDefaultClick);
    buttons->addSpacing(10);
    buImport = button("buImport", "Import", &TfAcounts::ImportClick);
    buttons->addStretch(1);
    buClose = button("buClose", "&Close", &TfAcounts::CloseClick);
    buClose->setAutoDefault(true);
    buClose->setDefault(true);
    layout->addLayout(buttons);

    connect(lvAccounts, &QTreeWidget::itemChanged, this, [this] { CheckMarksChanged(); });
    connect(lvAccounts, &QTreeWidget::itemSelectionChanged, this, &TfAcounts::UpdateButtons);
    connect(lvAccounts, &QTreeWidget::itemDoubleClicked, this, [this] {
        PropertiesClick();
        UpdateButtons();
    });
    FillList();
    UpdateButtons();
    resize(560, 300);
}

void TfAcounts::FillList()
{
    const int selected = SelectedIndex();
    Filling_ = true;
    lvAccounts->clear();
    for (const auto& row : Admin_.FillAccountList()) {
        auto* item = new QTreeWidgetItem(lvAccounts, {Q(row.Caption), Q(row.Host), Q(row.Organization)});
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(0, row.Checked ? Qt::Checked : Qt::Unchecked);
    }
    Filling_ = false;
    if (selected >= 0 && selected < lvAccounts->topLevelItemCount())
        SelectRow(selected);
}

int TfAcounts::SelectedIndex() const
{
    const auto items = lvAccounts->selectedItems();
    return items.isEmpty() ? -1 : lvAccounts->indexOfTopLevelItem(items.front());
}

void TfAcounts::SelectRow(int row)
{
    if (auto* item = lvAccounts->topLevelItem(row)) {
        lvAccounts->setCurrentItem(item);
        item->setSelected(true);
    }
    UpdateButtons();
}

void TfAcounts::UpdateButtons()
{
    const bool selected = SelectedIndex() >= 0;
    for (auto* b : {buProperties, buRemove, buSwitch, buDefault})
        b->setEnabled(selected);
    if (Main_.IsReceiving() || Main_.State().Filtering)
        buSwitch->setEnabled(false);
}

bool TfAcounts::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == lvAccounts || watched == lvAccounts->viewport()) &&
        (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::KeyRelease))
        UpdateButtons();
    return QDialog::eventFilter(watched, event);
}

void TfAcounts::CheckMarksChanged()
{
    if (Filling_)
        return;
    const int rows = std::min(lvAccounts->topLevelItemCount(), static_cast<int>(Admin_.Count()));
    for (int i = 0; i < rows; ++i) {
        const bool shown = lvAccounts->topLevelItem(i)->checkState(0) == Qt::Checked;
        Admin_.UserAt(static_cast<std::size_t>(i)).MutableID().ShortVis = shown;
        Main_.SetAccountItemsVisible(static_cast<std::size_t>(i), shown);
    }
}

void TfAcounts::AddClick()
{
    if (!Main_.AddAccountWithWizard(this))
        return;
    FillList();
    Main_.AccountMenusChanged();
}

void TfAcounts::RemoveClick()
{
    const int index = SelectedIndex();
    if (index < 0)
        return;
    const auto i = static_cast<std::size_t>(index);
    const bool current = &Admin_.UserAt(i) == Admin_.CurrentUser();
    if (current && (Main_.IsReceiving() || Main_.State().Filtering)) {
        Prompter_.Inform(core::TMessageKind::Information, "You cannot delete this user !");
        return;
    }
    const auto options = core::Options();
    if (options && core::IsOn(options->ConfirmRemoveUser) &&
        Prompter_.Ask(core::TMessageKind::Confirmation, "Are you sure you want to remove this user?",
                      {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes)
        return;
    // The list and the tree show the current account's records: they go before the account does.
    if (current)
        Main_.ClearListAndTree();
    try {
        Admin_.RemoveUser(i);
    } catch (const std::exception& e) {
        Prompter_.Inform(core::TMessageKind::Error, e.what());
        if (current)
            Main_.SwitchToAccount(i);
        return;
    }
    FillList();
    if (lvAccounts->topLevelItemCount() == 0) {
        Admin_.SetCurrentUser(nullptr);
        Main_.ClearListAndTree();
    } else if (current) {
        SelectRow(0);
        SwitchToClick();
    }
}

void TfAcounts::PropertiesClick()
{
    const int index = SelectedIndex();
    if (index < 0)
        return;
    accounts::TUser& user = Admin_.UserAt(static_cast<std::size_t>(index));
    TfUserProperties properties(user.ID(), this);
    if (Main_.RunDialog(properties) != QDialog::Accepted || !properties.IdentityChanged())
        return;
    user.SetID(properties.UserID());
    FillList();
    Main_.AccountMenusChanged();
    if (&user == Admin_.CurrentUser())
        Main_.ShowAccountCaption();
}

void TfAcounts::SwitchToClick()
{
    const int index = SelectedIndex();
    if (index < 0 || Main_.IsReceiving() || Main_.State().Filtering)
        return;
    if (&Admin_.UserAt(static_cast<std::size_t>(index)) != Admin_.CurrentUser())
        Main_.SwitchToAccount(static_cast<std::size_t>(index));
}

void TfAcounts::SetDefaultClick()
{
    const int index = SelectedIndex();
    if (index < 0)
        return;
    if (const int old = Admin_.DefaultIndex(); old != index) {
        Admin_.SetDefault(old, index);
        FillList();
    }
}

void TfAcounts::ImportClick()
{
    const auto imported = Main_.RunAccountsImport(this);
    if (!imported || imported->empty())
        return;
    for (const auto& id : *imported) {
        Admin_.AddUser(id);
        FillList();
        Main_.AccountMenusChanged();
    }
    Save();
    if (!Main_.AccountChangeAllowed())
        return;
    const std::size_t last = Admin_.Count() - 1;
    if (Admin_.CurrentUser() == nullptr)
        Main_.SwitchToAccount(last);
    else if (Prompter_.Ask(core::TMessageKind::Confirmation, std::string(core::texts::SwitchToNewUser),
                           {core::TAnswer::Yes, core::TAnswer::No}) == core::TAnswer::Yes)
        Main_.SwitchToAccount(last);
}

void TfAcounts::Save()
{
    try {
        Admin_.SaveUsers();
    } catch (const std::exception& e) {
        Prompter_.Inform(core::TMessageKind::Error, e.what());
    }
}

void TfAcounts::CloseClick()
{
    Save();
    QDialog::accept();
}

void TfAcounts::reject()
{
    CloseClick();
}

} // namespace tarnwick::gui
