#pragma once

#include <string>

#include <QDialog>

namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::gui {

// The spam-database list of "Databases.ini": add, remove and tick servers; the list is written back
// whenever the dialog closes.
class TfSpamDatabase : public QDialog
{
    Q_OBJECT

public:
    // `path` is the list file (classify::TReadDatabaseSettings::DefaultPath() in the program).
    TfSpamDatabase(std::string path, core::TPrompter& prompter, QWidget* parent = nullptr);

private:
    std::string Path_;
    core::TPrompter& Prompter_;
};

} // namespace tarnwick::gui
