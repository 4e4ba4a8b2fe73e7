#pragma once

#include <cstdint>

#include <QWidget>

#include "accounts/TUserID.h"

class QComboBox;
class QSpinBox;

namespace tarnwick::gui {

// The server port (1 to 65535) and the connection security of an account, as the wizard and the
// properties dialog offer them. Choosing SSL/TLS proposes port 995, choosing None or STARTTLS
// proposes 110, each only while the port still holds the other proposal, so a port the user typed
// is kept.
class TServerPortFields : public QWidget
{
    Q_OBJECT

public:
    explicit TServerPortFields(QWidget* parent = nullptr);

    void SetValues(std::int32_t port, accounts::TConnectionSecurity security);
    std::int32_t Port() const;
    accounts::TConnectionSecurity Security() const;

    QSpinBox* PortField() const { return edPort; }
    QComboBox* SecurityField() const { return cbSecurity; }

private:
    void SecurityChosen();

    QSpinBox* edPort = nullptr;
    QComboBox* cbSecurity = nullptr;
};

} // namespace tarnwick::gui
