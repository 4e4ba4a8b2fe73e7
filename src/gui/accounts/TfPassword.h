#pragma once

#include <optional>
#include <string>
#include <utility>

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace tarnwick::gui {

// The password prompt of a receive whose account does not remember its password.
class TfPassword : public QDialog
{
    Q_OBJECT

public:
    explicit TfPassword(const QString& accountName, QWidget* parent = nullptr);

    QString Password() const;
    bool RememberPassword() const;

    // Shows the prompt modally: the entered password and the "Remember password" state, or nothing
    // when it was cancelled.
    static std::optional<std::pair<std::string, bool>> Ask(const QString& accountName, QWidget* parent);

private:
    QLineEdit* edUserName = nullptr;
    QLineEdit* edPassword = nullptr;
    QCheckBox* cbRememberPassword = nullptr;
    QPushButton* buOK = nullptr;
    QPushButton* buCancel = nullptr;
};

} // namespace tarnwick::gui
