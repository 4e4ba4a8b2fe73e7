#pragma once

#include <string>

#include <QDialog>

#include "gui/accounts/TModalRunner.h"
#include "views/TAdvancedFiltersSettings.h"

class QCheckBox;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;

namespace tarnwick::core {
class TPrompter;
class TRegistry;
} // namespace tarnwick::core

namespace tarnwick::gui {

// "Advanced Filters": the list of the six advanced filters and the settings page of the selected
// one. The settings are read when the dialog is made; OK stores them, Cancel stores nothing. Values
// in the store that cannot be read are reported and shown with their defaults, so OK repairs them.
class TfAdvFilterSettings : public QDialog
{
    Q_OBJECT

public:
    // `presetFilter` (0 "Duplicates" to 5 "Very Large Messages") is selected first; -1 selects the
    // first. `dataFolder` holds the character file; `runModal` shows the character dialog.
    TfAdvFilterSettings(core::TRegistry& registry, core::TPrompter& prompter, std::string dataFolder,
                        TModalRunner runModal, int presetFilter = -1, QWidget* parent = nullptr);

    // The settings shown at creation, or stored by OK.
    const views::TAdvancedFiltersSettings& Settings() const { return Settings_; }

    // Selects the filter's row and shows its page.
    void ShowFilter(int filter);
    void OkClick();
    void buCharacterSettingsClick();

    static constexpr int FilterCount = 6;

private:
    void BuildPages();
    void ReadSettings();
    void ShowSettings();

    core::TRegistry& Registry_;
    core::TPrompter& Prompter_;
    std::string DataFolder_;
    TModalRunner RunModal_;
    views::TAdvancedFiltersSettings Settings_;

    QListWidget* lbFilters = nullptr;
    QStackedWidget* nbFilterPages = nullptr;
    QSpinBox* seDuplicates = nullptr;
    QCheckBox* cbIdemSubject = nullptr;
    QCheckBox* cbIdemTo = nullptr;
    QCheckBox* cbIdemFrom = nullptr;
    QCheckBox* cbIdemSize = nullptr;
    QRadioButton* rbHighPriority = nullptr;
    QRadioButton* rbLowPriority = nullptr;
    QCheckBox* cbForeignInSubject = nullptr;
    QCheckBox* cbForeignInFrom = nullptr;
    QCheckBox* cbForeignInTo = nullptr;
    QCheckBox* cbForeignInBody = nullptr;
    QSpinBox* seCharacterAppearance = nullptr;
    QPushButton* buCharacterSettings = nullptr;
    QSpinBox* seLargerThenSize = nullptr;
    QPushButton* buOK = nullptr;
    QPushButton* buCancel = nullptr;
};

} // namespace tarnwick::gui
