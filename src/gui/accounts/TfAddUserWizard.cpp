#include "gui/accounts/TfAddUserWizard.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "accounts/TAdmin.h"
#include "core/TPrompter.h"
#include "gui/accounts/TDialogHeader.h"
#include "gui/accounts/TServerPortFields.h"
#include "gui/common/TImages.h"

namespace tarnwick::gui {

namespace {

// Titles of the header, by step (0 is the start page).
const char* const StepTitles[] = {"Welcome to Orvalent Tarnwick", "Your Name", "E-mail Server Name",
                                  "Internet Mail Logon", "Congratulations"};
constexpr int StartPageIndex = 4; // pages 1 to 4 sit at indices 0 to 3

QLabel* WrappedLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

std::string Utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

} // namespace

TfAddUserWizard::TfAddUserWizard(TMode mode, accounts::TAdmin& admin, core::TPrompter& prompter,
                                 QWidget* parent)
    : QDialog(parent)
    , Admin_(admin)
    , Prompter_(prompter)
    , Mode_(mode)
{
    setObjectName(QStringLiteral("fAddUserWizard"));
    setWindowTitle(QStringLiteral("Add User Wizard"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    imHeader = new TDialogHeader(ImageOf(TImageList::Toolbar, 4), true, this);
    layout->addWidget(imHeader);
    nbPages = new QStackedWidget(this);
    nbPages->setObjectName(QStringLiteral("nbPages"));
    layout->addWidget(nbPages, 1);
    BuildPages();

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(12, 8, 12, 10);
    buttons->addStretch(1);
    buBack = new QPushButton(QStringLiteral("< &Back"), this);
    buBack->setObjectName(QStringLiteral("buBack"));
    buNext = new QPushButton(QStringLiteral("&Next >"), this);
    buNext->setObjectName(QStringLiteral("buNext"));
    buNext->setDefault(true);
    buCancel = new QPushButton(QStringLiteral("Cancel"), this);
    buCancel->setObjectName(QStringLiteral("buCancel"));
    buttons->addWidget(buBack);
    buttons->addWidget(buNext);
    buttons->addSpacing(8);
    buttons->addWidget(buCancel);
    layout->addLayout(buttons);
    connect(buBack, &QPushButton::clicked, this, &TfAddUserWizard::BackClick);
    connect(buNext, &QPushButton::clicked, this, &TfAddUserWizard::NextClick);
    connect(buCancel, &QPushButton::clicked, this, &TfAddUserWizard::reject);
    for (auto* field : {edDisplayName, edServer, edAccountName, edPassword})
        connect(field, &QLineEdit::textChanged, this, &TfAddUserWizard::NextCheck);
    connect(cbRememberPassword, &QCheckBox::toggled, this, &TfAddUserWizard::NextCheck);

    resize(500, 390);
    ResetWizard();
}

void TfAddUserWizard::BuildPages()
{
    auto page = [this](const char* name) {
        auto* widget = new QWidget(nbPages);
        widget->setObjectName(QString::fromLatin1(name));
        auto* grid = new QGridLayout(widget);
        grid->setContentsMargins(24, 20, 24, 12);
        grid->setVerticalSpacing(8);
        grid->setColumnStretch(1, 1);
        nbPages->addWidget(widget);
        return std::pair{widget, grid};
    };
    auto fieldLabel = [](const QString& text, QWidget* buddy, QWidget* parent) {
        auto* label = new QLabel(text, parent);
        label->setBuddy(buddy);
        return label;
    };

    auto [name, nameGrid] = page("tsName");
    edDisplayName = new QLineEdit(name);
    edDisplayName->setObjectName(QStringLiteral("edDisplayName"));
    nameGrid->addWidget(fieldLabel(QStringLiteral("&Display Name:"), edDisplayName, name), 0, 0);
    nameGrid->addWidget(edDisplayName, 0, 1);
    nameGrid->addWidget(new QLabel(QStringLiteral("For example: John Smith"), name), 1, 1);
    nameGrid->setRowStretch(2, 1);

    auto [server, serverGrid] = page("tsServer");
    edServer = new QLineEdit(server);
    edServer->setObjectName(QStringLiteral("edServer"));
    serverGrid->addWidget(fieldLabel(QStringLiteral("Incoming mail (POP3) &server:"), edServer, server), 0, 0,
                          1, 2);
    serverGrid->addWidget(edServer, 1, 0, 1, 2);
    paServerPort = new TServerPortFields(server);
    serverGrid->addWidget(paServerPort, 2, 0, 1, 2);
    serverGrid->setRowStretch(3, 1);

    auto [logon, logonGrid] = page("tsLogon");
    edAccountName = new QLineEdit(logon);
    edAccountName->setObjectName(QStringLiteral("edAccountName"));
    edPassword = new QLineEdit(logon);
    edPassword->setObjectName(QStringLiteral("edPassword"));
    edPassword->setEchoMode(QLineEdit::Password);
    cbRememberPassword = new QCheckBox(QStringLiteral("Remember pass&word"), logon);
    cbRememberPassword->setObjectName(QStringLiteral("cbRememberPassword"));
    logonGrid->addWidget(fieldLabel(QStringLiteral("&Account name: "), edAccountName, logon), 0, 0);
    logonGrid->addWidget(edAccountName, 0, 1);
    logonGrid->addWidget(fieldLabel(QStringLiteral("&Password:       "), edPassword, logon), 1, 0);
    logonGrid->addWidget(edPassword, 1, 1);
    logonGrid->addWidget(cbRememberPassword, 2, 1);
    logonGrid->setRowStretch(3, 1);

    auto [finish, finishGrid] = page("tsFinish");
    finishGrid->addWidget(
        WrappedLabel(QStringLiteral("You have succesfully entered all of the information required "
                                    "to set up your account. Now click the Finish button."),
                     finish),
        0, 0, 1, 2);
    cbDefault = new QCheckBox(QStringLiteral("Set as &default user"), finish);
    cbDefault->setObjectName(QStringLiteral("cbDefault"));
    finishGrid->addWidget(cbDefault, 1, 0, 1, 2);
    finishGrid->setRowStretch(2, 1);

    nbPages->addWidget(BuildStartPage());
}

QWidget* TfAddUserWizard::BuildStartPage()
{
    auto* start = new QWidget(nbPages);
    start->setObjectName(QStringLiteral("tsStart"));
    auto* layout = new QVBoxLayout(start);
    layout->setContentsMargins(24, 16, 24, 8);
    auto* options = new QLabel(QStringLiteral("Account Options:"), start);
    QFont bold = options->font();
    bold.setBold(true);
    options->setFont(bold);
    layout->addWidget(options);
    auto describe = [start, layout](QRadioButton* choice, const QString& text) {
        layout->addWidget(choice);
        auto* label = WrappedLabel(text, start);
        label->setContentsMargins(24, 0, 0, 6);
        layout->addWidget(label);
    };
    rbManual = new QRadioButton(QStringLiteral("Manually set up an account"), start);
    rbManual->setObjectName(QStringLiteral("rbManual"));
    describe(rbManual,
             QStringLiteral(
                 "In order to use Orvalent Tarnwick you need to configure it to accces your mail server. "
                 "This option will launch a wizard where you will be asked step by step to manually "
                 "enter information required to set up your account (name, incoming mail server, "
                 "password, etc.)"));
    rbImport = new QRadioButton(QStringLiteral("Import accounts from Outlook Express"), start);
    rbImport->setObjectName(QStringLiteral("rbImport"));
    describe(
        rbImport,
        QStringLiteral("Choose this option to import an already existing email account from Outlook Express. "
                       "A dialod box will appear, allowing you to select the account you wish to import to "
                       "Orvalent Tarnwick."));
    layout->addStretch(1);
    rbManual->setChecked(true);
    return start;
}

void TfAddUserWizard::ResetWizard()
{
    ResultTaken_ = false;
    Outcome_ = TOutcome::Cancel;
    for (auto* field : {edDisplayName, edServer, edAccountName, edPassword})
        field->clear();
    cbRememberPassword->setChecked(true);
    paServerPort->SetValues(accounts::DefaultPop3Port, accounts::TConnectionSecurity::None);
    if (Mode_ == TMode::FirstStart) {
        Step_ = 0;
        ShowStep(0);
        rbManual->setChecked(true);
        buBack->hide();
        buNext->setText(QStringLiteral("&Continue"));
        buNext->setEnabled(true);
        rbManual->setFocus();
        return;
    }
    buBack->show();
    ResetToPage1();
}

void TfAddUserWizard::ResetToPage1()
{
    Step_ = 1;
    ShowStep(1);
    buNext->setText(QStringLiteral("&Next >"));
    buNext->setEnabled(true);
    buBack->setEnabled(false);
    edDisplayName->setFocus();
    NextCheck();
}

void TfAddUserWizard::ShowStep(int step)
{
    nbPages->setCurrentIndex(step == 0 ? StartPageIndex : step - 1);
    imHeader->SetTitle(QString::fromLatin1(StepTitles[step]));
}

void TfAddUserWizard::NextClick()
{
    switch (Step_) {
    case 0:
        if (rbImport->isChecked()) {
            Outcome_ = TOutcome::Import;
            done(Accepted);
            return;
        }
        ResetToPage1();
        buBack->show();
        return;
    case 1:
        ShowStep(2);
        buBack->setEnabled(true);
        edServer->setFocus();
        break;
    case 2:
        ShowStep(3);
        edAccountName->setFocus();
        break;
    case 3:
        ShowStep(4);
        buNext->setText(QStringLiteral("&Finish"));
        break;
    default:
        Outcome_ = TOutcome::Ok;
        done(Accepted);
        return;
    }
    ++Step_;
    NextCheck();
}

void TfAddUserWizard::BackClick()
{
    switch (Step_) {
    case 2:
        ShowStep(1);
        buBack->setEnabled(false);
        edDisplayName->setFocus();
        break;
    case 3:
        ShowStep(2);
        edServer->setFocus();
        break;
    case 4:
        ShowStep(3);
        buNext->setText(QStringLiteral("&Next >"));
        edAccountName->setFocus();
        break;
    default:
        return;
    }
    --Step_;
    NextCheck();
}

void TfAddUserWizard::NextCheck()
{
    bool enabled = true;
    switch (Step_) {
    case 1:
        enabled = !edDisplayName->text().isEmpty();
        break;
    case 2:
        // A host of blanks cannot name a server.
        enabled = !edServer->text().trimmed().isEmpty();
        break;
    case 3:
        enabled = !edAccountName->text().isEmpty() && !edPassword->text().isEmpty();
        break;
    default:
        break;
    }
    buNext->setEnabled(enabled);
}

void TfAddUserWizard::reject()
{
    if (Prompter_.Ask(core::TMessageKind::Warning, "Are you sure you want to exit the wizard?",
                      {core::TAnswer::Yes, core::TAnswer::No}) == core::TAnswer::Yes) {
        Outcome_ = TOutcome::Cancel;
        QDialog::reject();
        return;
    }
    // The question's window has closed over the wizard, which is active again and starts afresh.
    ResetWizard();
}

void TfAddUserWizard::done(int result)
{
    TakeResult(result == QDialog::Accepted);
    QDialog::done(result);
}

void TfAddUserWizard::TakeResult(bool finished)
{
    if (ResultTaken_)
        return;
    ResultTaken_ = true;
    UserID_ = {};
    UserID_.DisplayName = Utf8(edDisplayName->text());
    UserID_.AccountName = Utf8(edAccountName->text());
    UserID_.Password = Utf8(edPassword->text());
    UserID_.Host = Utf8(edServer->text().trimmed());
    UserID_.ShortVis = true;
    UserID_.IsDefault = cbDefault->isChecked();
    UserID_.RememberPassword = cbRememberPassword->isChecked();
    UserID_.Port = paServerPort->Port();
    UserID_.Security = paServerPort->Security();
    // The new account takes the default over from the one that has it so far, in memory, at once.
    // Only a finished wizard does: a cancelled one leaves the accounts as they were, so that a
    // later save cannot store an account list without its default.
    if (UserID_.IsDefault && finished) {
        if (const int old = Admin_.DefaultIndex(); old >= 0)
            Admin_.UserAt(static_cast<std::size_t>(old)).MutableID().IsDefault = false;
    }
}

void TfAddUserWizard::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        ResetWizard();
}

} // namespace tarnwick::gui
