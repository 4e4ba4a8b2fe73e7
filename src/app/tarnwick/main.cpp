#include <string>
#include <vector>

#include <QApplication>
#include <QMessageBox>

#include "core/Errors.h"
#include "core/Modules.h"
#include "gui/main/TfMain.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvalent Tarnwick"));
    QApplication::setOrganizationName(QStringLiteral("Orvalent"));

    std::vector<std::string> notices;
    try {
        tarnwick::core::InitializeModules(QCoreApplication::applicationFilePath().toStdString(),
                                          tarnwick::core::TEnvironment::FromProcess(), notices);
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromStdString(e.what()));
        return 1;
    }
    for (const auto& notice : notices)
        QMessageBox::warning(nullptr, QApplication::applicationName(), QString::fromStdString(notice));

    tarnwick::gui::TfMain main;
    tarnwick::core::LoadOptionsAtStart();
    main.show();
    const int status = QApplication::exec();
    tarnwick::core::FinalizeModules();
    return status;
}
