#include "gui/accounts/TServerPortFields.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>

namespace tarnwick::gui {

using accounts::TConnectionSecurity;

TServerPortFields::TServerPortFields(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("paServerPort"));
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    edPort = new QSpinBox(this);
    edPort->setObjectName(QStringLiteral("edPort"));
    edPort->setRange(1, 65535);
    edPort->setValue(accounts::DefaultPop3Port);
    edPort->setButtonSymbols(QAbstractSpinBox::NoButtons);
    edPort->setMinimumWidth(70);
    PortLabel_ = new QLabel(QStringLiteral("Server port"), this);
    PortLabel_->setBuddy(edPort);
    cbSecurity = new QComboBox(this);
    cbSecurity->setObjectName(QStringLiteral("cbSecurity"));
    // Items in the order of TConnectionSecurity's values.
    cbSecurity->addItems({QStringLiteral("None"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")});
    SecurityLabel_ = new QLabel(QStringLiteral("Connection security"), this);
    SecurityLabel_->setBuddy(cbSecurity);
    layout->addWidget(PortLabel_, 0, 0);
    layout->addWidget(edPort, 0, 1);
    layout->addWidget(SecurityLabel_, 1, 0);
    layout->addWidget(cbSecurity, 1, 1);
    layout->setColumnStretch(2, 1);
    connect(cbSecurity, &QComboBox::activated, this, &TServerPortFields::SecurityChosen);
}

void TServerPortFields::AddTo(QGridLayout* grid, int row)
{
    grid->addWidget(PortLabel_, row, 0);
    grid->addWidget(edPort, row, 1, Qt::AlignLeft);
    grid->addWidget(SecurityLabel_, row + 1, 0);
    grid->addWidget(cbSecurity, row + 1, 1, Qt::AlignLeft);
    hide();
}

void TServerPortFields::SetValues(std::int32_t port, TConnectionSecurity security)
{
    edPort->setValue(port);
    cbSecurity->setCurrentIndex(static_cast<int>(security));
}

std::int32_t TServerPortFields::Port() const
{
    return edPort->value();
}

TConnectionSecurity TServerPortFields::Security() const
{
    return static_cast<TConnectionSecurity>(cbSecurity->currentIndex());
}

void TServerPortFields::SecurityChosen()
{
    if (Security() == TConnectionSecurity::Tls) {
        if (edPort->value() == accounts::DefaultPop3Port)
            edPort->setValue(accounts::DefaultPop3sPort);
    } else if (edPort->value() == accounts::DefaultPop3sPort) {
        edPort->setValue(accounts::DefaultPop3Port);
    }
}

} // namespace tarnwick::gui
