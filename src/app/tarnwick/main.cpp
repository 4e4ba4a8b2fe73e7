#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>

#include "accounts/TAdmin.h"
#include "classify/TAddressLists.h"
#include "core/Errors.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "gui/common/TMessageBoxPrompter.h"
#include "gui/lists/TfAddressList.h"
#include "gui/main/TSingleInstance.h"
#include "gui/main/TfMain.h"
#include "mime/TDecodeAttach.h"

namespace {

std::string ExecutablePath(const char* argv0)
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        return self.string();
    return std::filesystem::absolute(argv0, error).string();
}

bool IsUninstallSwitch(const char* argument)
{
    return std::strlen(argument) == 2 && argument[0] == '\\' && (argument[1] == 'u' || argument[1] == 'U');
}

// Deletes a file, trying again while it resists, for at most `budget`. Missing files are skipped.
void RemoveWithRetries(const std::filesystem::path& file, std::chrono::milliseconds budget)
{
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        std::error_code error;
        if (!std::filesystem::exists(file, error) || std::filesystem::remove(file, error))
            return;
        if (std::chrono::steady_clock::now() - start >= budget)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// "\u": removes the Outlook Express integration files from the program folder and ends.
int Uninstall(const std::string& executablePath)
{
    const std::filesystem::path folder = std::filesystem::path(executablePath).parent_path();
    RemoveWithRetries(folder / "OEBridgeHost.exe", std::chrono::milliseconds(10000));
    RemoveWithRetries(folder / "OEToolbarAddin.dll", std::chrono::milliseconds(10000));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string executable = ExecutablePath(argv[0]);
    if (argc > 1 && IsUninstallSwitch(argv[1]))
        return Uninstall(executable);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvalent Tarnwick"));
    QApplication::setOrganizationName(QStringLiteral("Orvalent"));
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QStringLiteral("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));

    tarnwick::gui::TSingleInstance instance;
    if (!instance.Claim(tarnwick::gui::TSingleInstance::ServerName(
            QFileInfo(QString::fromStdString(executable)).fileName())))
        return 0;

    std::vector<std::string> notices;
    try {
        tarnwick::core::InitializeModules(executable, tarnwick::core::TEnvironment::FromProcess(), notices);
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromStdString(e.what()));
        return 1;
    }
    for (const auto& notice : notices)
        QMessageBox::warning(nullptr, QApplication::applicationName(), QString::fromStdString(notice));

    int status = 0;
    {
        tarnwick::gui::TMessageBoxPrompter prompter;
        tarnwick::classify::AddressLists().Load(tarnwick::core::Folders().DataFolder, prompter);
        tarnwick::accounts::TAdmin admin(tarnwick::core::Hive(), [] { return tarnwick::core::Options(); });
        // Another start may come while the main window is still being made (the first-start wizard
        // is open): the wizard, or any other modal window, comes to the front then.
        tarnwick::gui::TfMain* shown = nullptr;
        const auto raise =
            QObject::connect(&instance, &tarnwick::gui::TSingleInstance::RaiseRequested, &app, [&shown] {
                std::fputs("tarnwick: another start handed over to this window\n", stderr);
                if (QWidget* modal = QApplication::activeModalWidget()) {
                    modal->raise();
                    modal->activateWindow();
                } else if (shown != nullptr) {
                    shown->RaiseFromAnotherStart();
                }
            });
        tarnwick::gui::TfMain main(admin, prompter);
        shown = &main;
        prompter.SetParent(&main);
        tarnwick::core::LoadOptionsAtStart();
        // The account shown at start: the default one, else the first.
        admin.MakeInitialCurrent();
        if (main.Desktop().WindowState == 1)
            main.showMinimized();
        else if (main.Desktop().WindowState == 2)
            main.showMaximized();
        else
            main.show();
        if (qEnvironmentVariableIsSet("TARNWICK_EXIT_WHEN_SHOWN"))
            QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
        status = QApplication::exec();
        QObject::disconnect(raise);
        tarnwick::gui::SaveListsAtExit(prompter);
    }
    // The decoded attachments of this run are private to it.
    tarnwick::mime::RemoveAttachmentFolder();
    tarnwick::core::FinalizeModules();
    return status;
}
