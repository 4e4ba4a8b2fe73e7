#pragma once

#include <QDialog>

#include "accounts/TUserID.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QStackedWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnwick::gui {

class TDialogHeader;
class TServerPortFields;

// The properties of one account: "General" (display name, organisation) and "Server Information"
// (server, port, security, account name, password). OK takes over what differs from the record and
// reports whether anything did.
class TfUserProperties : public QDialog
{
    Q_OBJECT

public:
    explicit TfUserProperties(const accounts::TUserID& id, QWidget* parent = nullptr);

    // The record with the changes taken over on OK.
    const accounts::TUserID& UserID() const { return UserID_; }
    bool IdentityChanged() const { return IdentityChanged_; }

    // Shows the page of a tree node: 0 "General", 1 "Server Information".
    void ShowPage(int page);
    void OkClick();

private:
    void BuildPages();
    void RememberPasswordClick();

    accounts::TUserID UserID_;
    bool IdentityChanged_ = false;

    QTreeWidget* tvPages = nullptr;
    std::vector<QTreeWidgetItem*> Nodes_;
    TDialogHeader* paHeader = nullptr;
    QStackedWidget* nbPages = nullptr;
    QLineEdit* edDisplayName = nullptr;
    QLineEdit* edOrganization = nullptr;
    QLineEdit* edServer = nullptr;
    TServerPortFields* paServerPort = nullptr;
    QLineEdit* edAccountName = nullptr;
    QLineEdit* edPassword = nullptr;
    QCheckBox* cbRememberPassword = nullptr;
};

} // namespace tarnwick::gui
