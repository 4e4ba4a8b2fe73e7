#include "TfSpamDatabase.h"

namespace tarnwick::gui {

TfSpamDatabase::TfSpamDatabase(std::string path, core::TPrompter& prompter, QWidget* parent)
    : QDialog(parent)
    , Path_(std::move(path))
    , Prompter_(prompter)
{
    setObjectName(QStringLiteral("fSpamDatabase"));
    setWindowTitle(QStringLiteral("Spam Database Settings"));
}

} // namespace tarnwick::gui
