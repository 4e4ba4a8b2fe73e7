// Renders the main window in its typical states to PNG files, so that the layout can be looked at
// without a display. Usage: tarnwick_screenshots OUTPUT_FOLDER

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeView>
#include <QTreeWidget>

#include "accounts/TAdmin.h"
#include "classify/TAddressLists.h"
#include "classify/TReadDatabaseSettings.h"
#include "classify/TSearchAddress.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TPrompter.h"
#include "core/TRegistry.h"
#include "gui/accounts/TfAcounts.h"
#include "gui/accounts/TfAddUserWizard.h"
#include "gui/accounts/TfPassword.h"
#include "gui/accounts/TfUserProperties.h"
#include "gui/attach/TFBrowse.h"
#include "gui/attach/TfSaveAttachments.h"
#include "gui/filters/TfAdvFilterSettings.h"
#include "gui/filters/TfForeignCharacters.h"
#include "gui/lists/TfAddressList.h"
#include "gui/main/TMessageListModel.h"
#include "gui/main/TfMain.h"
#include "gui/message/TMessagePreview.h"
#include "gui/message/TfMailSource.h"
#include "gui/message/TfMailWindow.h"
#include "gui/options/TfOptions.h"
#include "gui/options/TfSpamDatabase.h"
#include "gui/receive/TfReceivingMail.h"
#include "gui/receive/TfTrashInfo.h"
#include "gui/trash/TRecycleAnimation.h"
#include "gui/trash/TfDeleteMail.h"
#include "mime/TDecodeAttach.h"
#include "rules/TRuleListClass.h"
#include "views/TAbstractFiltering.h"

using namespace tarnwick;

namespace {

class TSilentPrompter : public core::TPrompter
{
public:
    void Inform(core::TMessageKind, const std::string&) override {}
    core::TAnswer Ask(core::TMessageKind, const std::string&,
                      const std::vector<core::TAnswer>& buttons) override
    {
        return buttons.empty() ? core::TAnswer::No : buttons.back();
    }
};

void Save(QWidget& window, const QString& folder, const char* name)
{
    QApplication::processEvents();
    const QString path = folder + QStringLiteral("/") + QString::fromLatin1(name) + QStringLiteral(".png");
    if (!window.grab().save(path))
        std::cerr << "screenshots: cannot write " << path.toStdString() << "\n";
    else
        std::cout << path.toStdString() << "\n";
}

void AddAccountWithRules(accounts::TAdmin& admin)
{
    accounts::TUserID id;
    id.AccountName = "jane";
    id.DisplayName = "Jane Doe";
    id.Host = "pop.example.org";
    admin.AddUser(id);
    admin.SaveUsers();
    admin.LoadUsers();
    core::TRegistry reg(core::Hive());
    accounts::TUser& user = admin.UserAt(0);
    const struct
    {
        const char* Name;
        int Enabled;
        const char* Word;
    } rules[] = {{"Newsletters", 1, "newsletter"}, {"Invoices", 1, "invoice"}, {"Old offers", 0, "offer"}};
    for (const auto& r : rules) {
        rules::TRuleClass& rule = rules::AddNewRule(reg, rules::RulesOf(user), user.ID());
        rule.Name = r.Name;
        rule.Enabled = r.Enabled;
        rules::TRulesCriteria c;
        c.Type = rules::CriterionSubject;
        c.ValueType = rules::ValueList;
        c.ListValue = rules::JoinList({r.Word});
        rule.Criteria = {c};
        rules::SaveRule(reg, rule, rule.KeyPath, true);
    }
}

void AddRecords(accounts::TUser& user, int count)
{
    const char* senders[] = {"Alice Martin", "Bob Stone",  "Carol White",
                             "Daily Deals",  "Eve Parker", "Newsletter Team"};
    const char* subjects[] = {"Meeting notes for Tuesday",
                              "Your invoice 2291",
                              " [ Spam ] Cheap watches",
                              "Weekly newsletter",
                              "Holiday photos",
                              " [ Questionable ] Limited offer inside",
                              "Re: project plan",
                              "Delivery Status Notification (Failure)"};
    for (int i = 0; i < count; ++i) {
        accounts::TMailMessage m;
        m.Number = i + 1;
        m.FromName = senders[i % 6];
        m.FromAddress = "sender" + std::to_string(i % 6) + "@example.org";
        m.Subject = subjects[(i * 5) % 8];
        m.ToText = "Jane Doe <jane@example.org>";
        m.Priority = i % 7 == 0    ? accounts::PriorityHigh
                     : i % 11 == 0 ? accounts::PriorityLow
                                   : accounts::PriorityNormal;
        m.HasAttachments = i % 4 == 1;
        m.Size = 800 + (i * 7919) % 3000000;
        m.Sent = 1765000000000LL + static_cast<std::int64_t>(i) * 3600000;
        user.Mails.Add(m);
    }
}

// The deletion window half-way through emptying the trash.
void DeletionWindowScenes(const QString& folder)
{
    gui::TfDeleteMail deletion;
    deletion.show();
    deletion.SetStatus("Deleting ...");
    deletion.SetProgress(40);
    deletion.Animation().HoldFrame(9);
    Save(deletion, folder, "delete-mail-during-deletion");
    deletion.Finish();
}

void Click(QWidget& dialog, const char* button)
{
    if (auto* b = dialog.findChild<QPushButton*>(QString::fromLatin1(button)))
        b->click();
}

void Fill(QWidget& dialog, const char* field, const char* text)
{
    if (auto* edit = dialog.findChild<QLineEdit*>(QString::fromLatin1(field)))
        edit->setText(QString::fromLatin1(text));
}

// Every page of the wizard at first start: the start page, then pages 1 to 4 filled in.
void SaveWizardPages(accounts::TAdmin& admin, core::TPrompter& prompter, const QString& folder)
{
    gui::TfAddUserWizard wizard(gui::TfAddUserWizard::TMode::FirstStart, admin, prompter);
    wizard.show();
    Save(wizard, folder, "wizard-0-start");
    Click(wizard, "buNext");
    Fill(wizard, "edDisplayName", "Jane Doe");
    Save(wizard, folder, "wizard-1-name");
    Click(wizard, "buNext");
    Fill(wizard, "edServer", "pop.example.org");
    if (auto* security = wizard.findChild<QComboBox*>(QStringLiteral("cbSecurity"))) {
        security->setCurrentIndex(2);
        emit security->activated(2);
    }
    Save(wizard, folder, "wizard-2-server");
    Click(wizard, "buNext");
    Fill(wizard, "edAccountName", "jane");
    Fill(wizard, "edPassword", "secret");
    Save(wizard, folder, "wizard-3-logon");
    Click(wizard, "buNext");
    Save(wizard, folder, "wizard-4-finish");
    wizard.hide();
}

void SaveAccountDialogs(gui::TfMain& window, accounts::TAdmin& admin, core::TPrompter& prompter,
                        const QString& folder)
{
    admin.UserAt(0).MutableID().ShortVis = true;
    accounts::TUserID second;
    second.AccountName = "jd";
    second.DisplayName = "John Doe (work)";
    second.Host = "mail.example.com";
    second.Organization = "Example Ltd.";
    second.ShortVis = true;
    admin.AddUser(second);
    gui::TfAcounts accounts(window, admin, prompter, &window);
    accounts.show();
    accounts.SelectRow(0);
    if (auto* list = accounts.findChild<QTreeWidget*>(QStringLiteral("lvAccounts")))
        if (auto* second = list->topLevelItem(1))
            second->setCheckState(0, Qt::Unchecked);
    Save(accounts, folder, "accounts-dialog");
    accounts.hide();

    accounts::TUserID id = admin.UserAt(0).ID();
    id.Organization = "Example Ltd.";
    gui::TfUserProperties properties(id, &window);
    properties.show();
    Save(properties, folder, "properties-general");
    properties.ShowPage(1);
    Save(properties, folder, "properties-server");
    properties.hide();
}

// The receiving window during a receive (tasks tab, progress) and after a failed one (errors tab),
// the password prompt and the trash notice, with the texts a receive gives them.
void SaveReceiveWindows(const QString& folder)
{
    {
        gui::TfReceivingMail window;
        window.SetReceiving(true);
        window.SetTask(QStringLiteral("'pop.example.org'"), QStringLiteral("Executing ..."), 3);
        window.SetCaption(QStringLiteral("42% Receiving messages for 'Jane Doe'"));
        window.SetStatusBar(QStringLiteral("Download speed: Extrem accelerated speed"));
        window.SetOverallStatus(QStringLiteral("Checking for new messages on 'pop.example.org'"));
        window.SetStatus(QStringLiteral("420 received message(s) of 1000"));
        window.SetProgress(42);
        window.show();
        Save(window, folder, "receiving-during");
        window.buDetailsClick();
        Save(window, folder, "receiving-details-folded");
    }
    {
        gui::TfReceivingMail window;
        window.SetTask(QStringLiteral("'pop.example.org'"), QStringLiteral("Executing ..."), 3);
        window.SetCaption(QStringLiteral("Receiving messages for 'Jane Doe'"));
        window.SetStatusBar(QStringLiteral("Download speed: Normal speed"));
        window.SetOverallStatus(QStringLiteral("Checking for new messages on 'pop.example.org'"));
        window.AddError(QStringLiteral("Failed to connect to remote server!"));
        window.AddError(QStringLiteral("Cannot connect to pop.example.org:995: Connection refused"));
        window.SetStatus(QStringLiteral("Failed to connect"));
        window.ReceiveEnded(false);
        window.show();
        Save(window, folder, "receiving-failed");
    }
    {
        // A server that allows one login a minute: the note, and a login waiting for the delay.
        gui::TfReceivingMail window;
        window.SetReceiving(true);
        window.SetTask(QStringLiteral("'pop.example.org'"), QStringLiteral("Executing ..."), 1);
        window.SetCaption(QStringLiteral("Receiving messages for 'Jane Doe'"));
        window.SetStatusBar(QStringLiteral("Download speed: Extrem accelerated speed"));
        window.SetOverallStatus(QStringLiteral("Checking for new messages on 'pop.example.org'"));
        window.SetStatus(QStringLiteral("Waiting 42 s for the login delay of 60 s ..."));
        window.AddNote(
            QStringLiteral("The server pop.example.org:110 allows one login every 60 seconds, so this "
                           "receive uses a single session for the count, the headers and the end check."));
        window.show();
        window.findChild<QTabWidget*>(QStringLiteral("pcDetails"))->setCurrentIndex(1);
        Save(window, folder, "receiving-one-session");
    }
    {
        gui::TfPassword prompt(QStringLiteral("jane"));
        prompt.show();
        Save(prompt, folder, "password-prompt");
    }
    {
        gui::TfTrashInfo notice;
        notice.show();
        Save(notice, folder, "trash-notice");
    }
}

} // namespace

// The attachment menu of the selected message, the save dialog it opens and the folder browser.
void SaveAttachmentWindows(gui::TfMain& window, core::TPrompter& prompter, const QString& folder)
{
    window.sbAttachClick();
    if (auto* menu = window.findChild<QMenu*>(QStringLiteral("popupAttach"))) {
        Save(*menu, folder, "attachment-menu");
        menu->hide();
    }
    const std::string cache = core::CacheFolder(core::Options()->CacheDir) + "/invoice-2291.eml";
    try {
        mime::TDecodeAttach decoder(cache);
        gui::TfSaveAttachments dialog(
            prompter, window.FolderBrowser(), [](QDialog&) { return 0; }, &window);
        dialog.Fill(decoder);
        dialog.show();
        Save(dialog, folder, "save-attachments");
        dialog.hide();
    } catch (const std::exception& e) {
        std::cerr << "screenshots: " << e.what() << "\n";
    }
    gui::TFBrowse& browser = window.FolderBrowser();
    browser.show();
    Save(browser, folder, "browse-for-folder");
    browser.hide();
}

// The preview's three modes, a message window and the source window, on a message in the cache
// whose HTML asks for a remote image.
void SaveMessageViewing(gui::TfMain& window, accounts::TAdmin& admin, core::TPrompter& prompter,
                        const QString& folder)
{
    accounts::TUser& user = admin.UserAt(0);
    accounts::TMailMessage* record = user.Mails.At(1);
    record->Headers = {"Return-Path: <sender1@example.org>",
                       "Received: from mx.example.org (mx.example.org [192.0.2.7]) by pop.example.org",
                       "From: " + record->FromName + " <" + record->FromAddress + ">",
                       "To: Jane Doe <jane@example.org>",
                       "Subject: " + record->Subject,
                       "Date: Sat, 06 Dec 2025 09:46:40 +0000",
                       "Message-ID: <invoice-2291@example.org>",
                       "MIME-Version: 1.0",
                       "Content-Type: multipart/mixed; boundary=\"b0\""};
    record->HasAttachments = true;
    record->CacheName = "invoice-2291";
    record->Reason = "The sender sender1@example.org is on the White list.";
    const std::string cache = core::CacheFolder(core::Options()->CacheDir);
    std::filesystem::create_directories(cache);
    {
        std::ofstream file(cache + "/invoice-2291.eml", std::ios::binary);
        for (const auto& line : record->Headers)
            file << line << "\r\n";
        file
            << "\r\n--b0\r\nContent-Type: multipart/alternative; boundary=\"b1\"\r\n"
            << "\r\n--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nYour invoice 2291 is attached.\r\n"
            << "--b1\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
            << "<html><body><img src=\"http://tracker.example/p.gif\" width=1 height=1>"
            << "<h2>Invoice 2291</h2><p>Dear Jane,</p><p>thank you for your order. The total of "
            << "<b>&euro; 129.00</b> is due on 20 December.</p>"
            << "<table border=1 cellpadding=4><tr><th>Item</th><th>Price</th></tr>"
            << "<tr><td>Desk lamp</td><td>&euro; 49.00</td></tr>"
            << "<tr><td>Office chair</td><td>&euro; 80.00</td></tr></table>"
            << "<p><a href=\"https://billing.example/pay?id=2291\">Pay now</a></p></body></html>\r\n"
            << "--b1--\r\n"
            << "--b0\r\nContent-Type: application/pdf; name=\"invoice-2291.pdf\"\r\n"
            << "Content-Disposition: attachment; filename=\"invoice-2291.pdf\"\r\n"
            << "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0xLjQKJSBpbnZvaWNlCg==\r\n"
            << "--b0\r\nContent-Type: text/plain; name=\"Terms & conditions.txt\"\r\n"
            << "Content-Disposition: attachment; filename=\"Terms & conditions.txt\"\r\n\r\n"
            << "Payment within 14 days.\r\n"
            << "--b0--\r\n";
    }
    auto* list = window.findChild<QTreeView*>(QStringLiteral("lvMessages"));
    list->selectionModel()->setCurrentIndex(window.Messages().index(1, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    window.lvMessagesClick();
    Save(window, folder, "preview-message-info");
    window.tbMessageInfoClick(gui::TMessagePreview::ModeHeader);
    Save(window, folder, "preview-message-header");
    window.tbMessageInfoClick(gui::TMessagePreview::ModeFull);
    Save(window, folder, "preview-full-message");

    window.OpenClick();
    if (!window.MailWindows().empty()) {
        gui::TfMailWindow& mail = *window.MailWindows().back();
        mail.resize(746, 459);
        Save(mail, folder, "message-window");
        gui::TfMailSource source(&mail);
        source.ShowSource(*record);
        source.show();
        Save(source, folder, "message-source");
        source.close();
        mail.close();
    }
    window.tbMessageInfoClick(gui::TMessagePreview::ModeInfo);
    SaveAttachmentWindows(window, prompter, folder);
}

// The options dialog, page by page.
void SaveOptionsWindows(gui::TfMain& window, core::TPrompter& prompter, const QString& folder)
{
    (void)prompter;
    gui::TfOptions& dialog = window.OptionsDialog();
    dialog.show();
    for (int page = 0; page < gui::TfOptions::PageCount; ++page) {
        dialog.ShowPage(page);
        // "Mail receiving" -> "options-mail-receiving"
        const std::string name = "options-" + gui::TfOptions::PageText(page)
                                                  .toLower()
                                                  .replace(QLatin1Char(' '), QLatin1Char('-'))
                                                  .toStdString();
        Save(dialog, folder, name.c_str());
    }
    dialog.hide();
}

// The spam-database list and its test.
void SaveSpamDatabaseWindows(gui::TfMain& window, core::TPrompter& prompter, const QString& folder)
{
    const std::string path = classify::TReadDatabaseSettings::DefaultPath();
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << "[Databases]\nbl.spamcop.net=-1\nzen.spamhaus.org=-1\nb.barracudacentral.org=0\n"
             << "dnsbl.example.net=-1\nall.wildcard.example=-1\n";
    }
    gui::TfSpamDatabase dialog(path, prompter, &window);
    dialog.show();
    Save(dialog, folder, "spam-databases");
    // The verdicts as a test gives them, without asking the real lists.
    dialog.ShowVerdicts({"bl.spamcop.net", "zen.spamhaus.org", "dnsbl.example.net", "all.wildcard.example"},
                        {classify::TZoneVerdict::Works, classify::TZoneVerdict::RefusesPublicResolvers,
                         classify::TZoneVerdict::NoAnswer, classify::TZoneVerdict::ListsEverything});
    Save(dialog, folder, "spam-databases-tested");
    dialog.close();
}

// The advanced filter settings and the character list.
// The advanced filter settings, page by page, and the character list without a character file.
void SaveFilterWindows(gui::TfMain& window, core::TPrompter& prompter, const QString& folder)
{
    core::TRegistry registry(core::Hive());
    const std::string dataFolder = core::Folders().DataFolder;
    {
        gui::TfAdvFilterSettings dialog(
            registry, prompter, dataFolder, [](QDialog&) { return 0; }, -1, &window);
        dialog.show();
        const char* const pages[] = {
            "advanced-filters-duplicates",      "advanced-filters-attachments",
            "advanced-filters-priority",        "advanced-filters-foreign-characters",
            "advanced-filters-delivery-errors", "advanced-filters-very-large"};
        for (int filter = 0; filter < gui::TfAdvFilterSettings::FilterCount; ++filter) {
            dialog.ShowFilter(filter);
            Save(dialog, folder, pages[filter]);
        }
        dialog.hide();
    }
    gui::TfForeignCharacters characters(prompter, dataFolder, &window);
    characters.show();
    if (auto* list = characters.findChild<QListWidget*>(QStringLiteral("lbCharacters")))
        if (auto* item = list->item(3))
            item->setSelected(true);
    Fill(characters, "edCharacter", "x");
    Save(characters, folder, "character-settings");
    characters.hide();
}

void SaveListWindows(gui::TfMain& window, const QString& folder)
{
    const auto rows = [](std::initializer_list<std::pair<const char*, bool>> entries) {
        std::vector<classify::TAddressRow> made;
        for (const auto& [address, enabled] : entries)
            made.push_back({address, enabled, {}});
        return made;
    };
    const auto before = classify::AddressLists().Snapshot();
    classify::AddressLists().Replace(
        {classify::TListKind::Black, rows({{"offers@cheap-pills.example", true},
                                           {"winner@lottery.example", true},
                                           {"news@old-newsletter.example", false},
                                           {"@spam-domain.example", true}})},
        {classify::TListKind::White, rows({{"anna.berg@example.org", true},
                                           {"invoices@provider.example", true},
                                           {"john@example.com", false},
                                           {"team@project.example", true}})});
    const struct
    {
        gui::TfAddressList* List;
        const char* Name;
        const char* Typed;
    } shots[] = {{&window.BlackListWindow(), "black-list", "bulk@mailer.example"},
                 {&window.WhiteListWindow(), "white-list", ""}};
    for (const auto& shot : shots) {
        shot.List->show();
        if (auto* list = shot.List->findChild<QTreeView*>(QStringLiteral("lvAddresses")))
            list->selectionModel()->select(list->model()->index(1, 0),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        Fill(*shot.List, "edAddress", shot.Typed);
        Save(*shot.List, folder, shot.Name);
        shot.List->hide();
    }
    classify::AddressLists().Replace(*before.Black, *before.White);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: tarnwick_screenshots OUTPUT_FOLDER\n";
        return 2;
    }
    const std::string out = std::filesystem::absolute(argv[1]).string();
    std::filesystem::create_directories(out);
    const std::string home = out + "/home";
    std::filesystem::remove_all(home);
    ::setenv("TARNWICK_HOME", home.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QIcon::setThemeName(QStringLiteral("Adwaita"));
    const QString folder = QString::fromStdString(out);

    std::vector<std::string> notices;
    core::InitializeModules(home + "/bin/tarnwick", core::TEnvironment::FromProcess(), notices);
    core::LoadOptionsAtStart();
    TSilentPrompter prompter;
    {
        accounts::TAdmin admin(core::Hive(), [] { return core::Options(); });
        {
            // The first start's wizard is shown page by page, then cancelled.
            gui::TfMain window(admin, prompter, nullptr, [&](QDialog&) {
                SaveWizardPages(admin, prompter, folder);
                return 0;
            });
            admin.MakeInitialCurrent();
            window.show();
            Save(window, folder, "main-welcome-800x500");
        }
        AddAccountWithRules(admin);
        gui::TfMain window(admin, prompter);
        admin.MakeInitialCurrent();
        AddRecords(admin.UserAt(0), 400);
        window.show();
        window.SelectPosition(views::ViewAllMessages);
        window.tvFiltersClick();
        auto* list = window.findChild<QTreeView*>(QStringLiteral("lvMessages"));
        list->selectionModel()->select(window.Messages().index(1, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        window.lvMessagesClick();
        Save(window, folder, "main-all-messages-800x500");
        SaveMessageViewing(window, admin, prompter, folder);
        window.resize(1366, 768);
        Save(window, folder, "main-all-messages-large");
        window.resize(800, 500);
        list->clearSelection();
        window.lvMessagesClick();
        window.SelectPosition(views::RuleViewBase);
        window.tvFiltersClick();
        Save(window, folder, "main-rule-view-800x500");
        window.SelectPosition(views::ViewAdvancedFilters);
        window.tvFiltersClick();
        Save(window, folder, "main-advanced-filters-page");
        window.resize(560, 500);
        Save(window, folder, "main-narrow-toolbar-overflow");
        window.resize(800, 500);
        SaveAccountDialogs(window, admin, prompter, folder);
        SaveOptionsWindows(window, prompter, folder);
        SaveSpamDatabaseWindows(window, prompter, folder);
        SaveFilterWindows(window, prompter, folder);
        SaveListWindows(window, folder);
    }
    DeletionWindowScenes(folder);
    SaveReceiveWindows(folder);
    mime::RemoveAttachmentFolder();
    core::FinalizeModules();
    std::filesystem::remove_all(home);
    return 0;
}
