#pragma once

#include <string>
#include <vector>

#include <QDialog>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::gui {

// "Character Settings": the characters the foreign-characters view looks for, kept sorted, with a
// field to add one character at a time. OK writes the list to "Characters.dat" in the data folder;
// Cancel writes nothing. Without the file the list starts with the characters of the codes 128 to
// 254 of Windows-1252.
class TfForeignCharacters : public QDialog
{
    Q_OBJECT

public:
    TfForeignCharacters(core::TPrompter& prompter, std::string dataFolder, QWidget* parent = nullptr);

    // The entries as the list shows them, each with the bytes it was read with.
    std::vector<std::string> Entries() const;

    void buAddClick();
    void buDeleteClick();
    void OkClick();

private:
    void AddEntry(const std::string& entry);

    core::TPrompter& Prompter_;
    std::string DataFolder_;

    QLineEdit* edCharacter = nullptr;
    QPushButton* buAdd = nullptr;
    QPushButton* buDelete = nullptr;
    QPushButton* buOK = nullptr;
    QPushButton* buCancel = nullptr;
    QListWidget* lbCharacters = nullptr;
};

} // namespace tarnwick::gui
