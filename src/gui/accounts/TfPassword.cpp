#include "gui/accounts/TfPassword.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick::gui {

TfPassword::TfPassword(const QString& accountName, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("fPassword"));
    setWindowTitle(QStringLiteral("Password: "));
    auto* prompt = new QLabel(QStringLiteral("Please enter your password."), this);
    edUserName = new QLineEdit(accountName, this);
    edUserName->setObjectName(QStringLiteral("edUserName"));
    edUserName->setReadOnly(true);
    edPassword = new QLineEdit(this);
    edPassword->setObjectName(QStringLiteral("edPassword"));
    edPassword->setEchoMode(QLineEdit::Password);
    cbRememberPassword = new QCheckBox(QStringLiteral("Remember password"), this);
    cbRememberPassword->setObjectName(QStringLiteral("cbRememberPassword"));
    buOK = new QPushButton(QStringLiteral("OK"), this);
    buOK->setObjectName(QStringLiteral("buOK"));
    buOK->setDefault(true);
    buCancel = new QPushButton(QStringLiteral("Cancel"), this);
    buCancel->setObjectName(QStringLiteral("buCancel"));
    connect(buOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(buCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("User name: "), edUserName);
    fields->addRow(QStringLiteral("Password: "), edPassword);
    fields->addRow(QString(), cbRememberPassword);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(buOK);
    buttons->addWidget(buCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    setMinimumWidth(320);
    edPassword->setFocus();
}

QString TfPassword::Password() const
{
    return edPassword->text();
}

bool TfPassword::RememberPassword() const
{
    return cbRememberPassword->isChecked();
}

std::optional<std::pair<std::string, bool>> TfPassword::Ask(const QString& accountName, QWidget* parent)
{
    TfPassword dialog(accountName, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return std::make_pair(dialog.Password().toStdString(), dialog.RememberPassword());
}

} // namespace tarnwick::gui
