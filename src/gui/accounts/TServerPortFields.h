#pragma once

#include <cstdint>

#include <QWidget>

#include "accounts/TUserID.h"

class QComboBox;
class QGridLayout;
class QLabel;
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

    // Moves the labels and fields into `grid` at `row` and the row below (labels in column 0,
    // fields in column 1) so that they line up with the fields around them; this widget then
    // stays empty and hidden.
    void AddTo(QGridLayout* grid, int row);

private:
    void SecurityChosen();

    QSpinBox* edPort = nullptr;
    QComboBox* cbSecurity = nullptr;
    QLabel* PortLabel_ = nullptr;
    QLabel* SecurityLabel_ = nullptr;
};

} // namespace tarnwick::gui
