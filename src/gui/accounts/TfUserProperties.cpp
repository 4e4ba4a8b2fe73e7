#include "gui/accounts/TfUserProperties.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/accounts/TDialogHeader.h"
#include "gui/accounts/TServerPortFields.h"
#include "gui/common/TImages.h"

namespace tarnwick::gui {

namespace {

QString Q(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

const char* const PageTexts[] = {"General", "Server Information"};

QIcon PageIcon(int page)
{
    return page == 0 ? ImageOf(TImageList::Tree, 4) : ImageOf(TImageList::Toolbar, 4);
}

QLabel* SectionLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

} // namespace

TfUserProperties::TfUserProperties(const accounts::TUserID& id, QWidget* parent)
    : QDialog(parent)
    , UserID_(id)
{
    setObjectName(QStringLiteral("fUserProperties"));
    setWindowTitle(QStringLiteral("User Properties"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* body = new QHBoxLayout;
    layout->addLayout(body, 1);

    tvPages = new QTreeWidget(this);
    tvPages->setObjectName(QStringLiteral("tvPages"));
    tvPages->setHeaderHidden(true);
    tvPages->setItemsExpandable(false);
    tvPages->setRootIsDecorated(false);
    tvPages->setFixedWidth(180);
    auto* root = new QTreeWidgetItem(tvPages, {Q(id.DisplayName)});
    root->setIcon(0, ImageOf(TImageList::Tree, 0));
    root->setFlags(Qt::ItemIsEnabled);
    for (int page = 0; page < 2; ++page) {
        auto* node = new QTreeWidgetItem(root, {QString::fromLatin1(PageTexts[page])});
        node->setIcon(0, PageIcon(page));
        node->setData(0, Qt::UserRole, page);
        Nodes_.push_back(node);
    }
    tvPages->expandAll();
    body->addWidget(tvPages);
    connect(tvPages, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item != nullptr && item->data(0, Qt::UserRole).isValid())
            ShowPage(item->data(0, Qt::UserRole).toInt());
    });

    auto* right = new QVBoxLayout;
    paHeader = new TDialogHeader(PageIcon(0), false, this);
    paHeader->setObjectName(QStringLiteral("paHeader"));
    right->addWidget(paHeader);
    nbPages = new QStackedWidget(this);
    nbPages->setObjectName(QStringLiteral("nbPages"));
    right->addWidget(nbPages, 1);
    body->addLayout(right, 1);
    BuildPages();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("buOK"));
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("buCancel"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &TfUserProperties::OkClick);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    // Filling from the record.
    edDisplayName->setText(Q(id.DisplayName));
    edOrganization->setText(Q(id.Organization));
    edServer->setText(Q(id.Host));
    edAccountName->setText(Q(id.AccountName));
    paServerPort->SetValues(id.Port, id.Security);
    if (id.RememberPassword)
        edPassword->setText(Q(id.Password));
    cbRememberPassword->setChecked(id.RememberPassword);
    edPassword->setEnabled(id.RememberPassword);
    // Connected after filling: only the user's edits count as changes.
    connect(edPassword, &QLineEdit::textEdited, this, [this] { IdentityChanged_ = true; });
    connect(cbRememberPassword, &QCheckBox::toggled, this, &TfUserProperties::RememberPasswordClick);

    tvPages->setCurrentItem(Nodes_.front());
    ShowPage(0);
    resize(580, 360);
}

void TfUserProperties::BuildPages()
{
    auto page = [this](const char* name) {
        auto* widget = new QWidget(nbPages);
        widget->setObjectName(QString::fromLatin1(name));
        auto* grid = new QGridLayout(widget);
        grid->setContentsMargins(8, 10, 8, 8);
        grid->setColumnStretch(1, 1);
        nbPages->addWidget(widget);
        return std::pair{widget, grid};
    };
    auto labelled = [](QGridLayout* grid, int row, const QString& text, QWidget* field) {
        auto* label = new QLabel(text, field->parentWidget());
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
    };

    auto [general, generalGrid] = page("tsGeneral");
    generalGrid->addWidget(SectionLabel(QStringLiteral("User Information:"), general), 0, 0, 1, 2);
    edDisplayName = new QLineEdit(general);
    edDisplayName->setObjectName(QStringLiteral("edDisplayName"));
    labelled(generalGrid, 1, QStringLiteral("Display Name:    "), edDisplayName);
    edOrganization = new QLineEdit(general);
    edOrganization->setObjectName(QStringLiteral("edOrganization"));
    labelled(generalGrid, 2, QStringLiteral("Organization:      "), edOrganization);
    generalGrid->setRowStretch(3, 1);

    auto [server, serverGrid] = page("tsServer");
    serverGrid->addWidget(SectionLabel(QStringLiteral("Server Information:"), server), 0, 0, 1, 2);
    edServer = new QLineEdit(server);
    edServer->setObjectName(QStringLiteral("edServer"));
    serverGrid->addWidget(new QLabel(QStringLiteral("Incoming mail (POP3) server:"), server), 1, 0, 1, 2);
    serverGrid->addWidget(edServer, 2, 0, 1, 2);
    paServerPort = new TServerPortFields(server);
    paServerPort->AddTo(serverGrid, 3);
    edAccountName = new QLineEdit(server);
    edAccountName->setObjectName(QStringLiteral("edAccountName"));
    labelled(serverGrid, 5, QStringLiteral("Account Name:    "), edAccountName);
    edPassword = new QLineEdit(server);
    edPassword->setObjectName(QStringLiteral("edPassword"));
    edPassword->setEchoMode(QLineEdit::Password);
    labelled(serverGrid, 6, QStringLiteral("Password:    "), edPassword);
    cbRememberPassword = new QCheckBox(QStringLiteral("Remember Password"), server);
    cbRememberPassword->setObjectName(QStringLiteral("cbRememberPassword"));
    serverGrid->addWidget(cbRememberPassword, 7, 1);
    serverGrid->setRowStretch(8, 1);
}

void TfUserProperties::ShowPage(int page)
{
    nbPages->setCurrentIndex(page);
    paHeader->SetTitle(QString::fromLatin1(PageTexts[page]));
    paHeader->SetIcon(PageIcon(page));
    if (tvPages->currentItem() != Nodes_.at(static_cast<std::size_t>(page)))
        tvPages->setCurrentItem(Nodes_.at(static_cast<std::size_t>(page)));
}

void TfUserProperties::RememberPasswordClick()
{
    edPassword->setEnabled(cbRememberPassword->isChecked());
}

void TfUserProperties::OkClick()
{
    auto take = [this](std::string& field, const std::string& value) {
        if (field != value) {
            field = value;
            IdentityChanged_ = true;
        }
    };
    take(UserID_.DisplayName, Utf8(edDisplayName->text()));
    take(UserID_.Host, Utf8(edServer->text().trimmed()));
    take(UserID_.Organization, Utf8(edOrganization->text()));
    take(UserID_.AccountName, Utf8(edAccountName->text()));
    if (paServerPort->Port() != UserID_.Port || paServerPort->Security() != UserID_.Security) {
        UserID_.Port = paServerPort->Port();
        UserID_.Security = paServerPort->Security();
        IdentityChanged_ = true;
    }
    if (cbRememberPassword->isChecked() != UserID_.RememberPassword) {
        UserID_.RememberPassword = cbRememberPassword->isChecked();
        UserID_.Password = Utf8(edPassword->text());
        IdentityChanged_ = true;
    }
    if (UserID_.RememberPassword)
        take(UserID_.Password, Utf8(edPassword->text()));
    accept();
}

} // namespace tarnwick::gui
