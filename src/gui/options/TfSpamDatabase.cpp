#include "TfSpamDatabase.h"

#include <QColor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "classify/TDnsResolver.h"
#include "core/MessageTexts.h"
#include "core/TPrompter.h"
#include "core/TextUtils.h"
#include "gui/accounts/TDialogHeader.h"
#include "gui/common/TImages.h"

namespace tarnwick::gui {

namespace {

constexpr int NameColumn = 0;
constexpr int VerdictColumn = 1;
constexpr const char* TestText = "Test";
constexpr const char* TestingText = "Testing...";
constexpr const char* NothingTicked = "Tick the spam databases you want to test.";
constexpr const char* RemoveQuestion = "Are you sure you want to delete this server ?";

QString Q(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Name(const QTreeWidgetItem& item)
{
    return item.text(NameColumn).toStdString();
}

// What a verdict means for the user, as the row's tool tip.
QString VerdictExplanation(classify::TZoneVerdict verdict)
{
    using classify::TZoneVerdict;
    switch (verdict) {
    case TZoneVerdict::Works:
        return QStringLiteral("Lists its test address 127.0.0.2 and not 127.0.0.1, as a block list should.");
    case TZoneVerdict::NoAnswer:
        return QStringLiteral("Does not list its test address 127.0.0.2: the name is misspelt, the zone is "
                              "not served, or the name server does not answer.");
    case TZoneVerdict::RefusesPublicResolvers:
        return QStringLiteral("Answers with an error code (127.255.255.252 to 127.255.255.255): the list "
                              "refuses queries from a public or over-used resolver. It would find no spam.");
    case TZoneVerdict::ListsEverything:
        return QStringLiteral("Lists the test address 127.0.0.1 too: this zone answers every query and "
                              "would mark every message as spam.");
    }
    return {};
}

} // namespace

TfSpamDatabase::TfSpamDatabase(std::string path, core::TPrompter& prompter, QWidget* parent)
    : QDialog(parent)
    , Path_(std::move(path))
    , Prompter_(prompter)
    , Settings_(Path_)
{
    setObjectName(QStringLiteral("fSpamDatabase"));
    setWindowTitle(QStringLiteral("Spam Database Settings"));
    setModal(true);

    auto* layout = new QVBoxLayout(this);
    // The block lists are servers on the network; the junk-mail picture falls back to an error sign
    // in themes without it, which would read as if something had failed.
    auto* header = new TDialogHeader(
        QIcon::fromTheme(QStringLiteral("network-workgroup"), style()->standardIcon(QStyle::SP_DriveNetIcon)),
        false, this);
    header->SetTitle(Q(core::texts::KnownSpamDatabases));
    layout->addWidget(header);

    // Buttons take no Enter key of their own, so Enter in the name field adds and never closes.
    const auto button = [this](const char* name, const char* text, void (TfSpamDatabase::*click)()) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, click] {
            (this->*click)();
            UpdateButtons();
        });
        return b;
    };

    auto* laServer = new QLabel(QStringLiteral("Enter a RBL server name to your list :"), this);
    laServer->setObjectName(QStringLiteral("laServer"));
    layout->addWidget(laServer);
    auto* serverRow = new QHBoxLayout;
    edServer = new QLineEdit(this);
    edServer->setObjectName(QStringLiteral("edServer"));
    laServer->setBuddy(edServer);
    serverRow->addWidget(edServer, 1);
    buAdd = button("buAdd", "&Add", &TfSpamDatabase::AddClick);
    serverRow->addWidget(buAdd);
    layout->addLayout(serverRow);
    connect(edServer, &QLineEdit::returnPressed, this, [this] {
        AddClick();
        UpdateButtons();
    });

    auto* laServers = new QLabel(QStringLiteral("Check the spam databases you want to use :"), this);
    laServers->setObjectName(QStringLiteral("laServers"));
    layout->addWidget(laServers);
    auto* listRow = new QHBoxLayout;
    lbServers = new QTreeWidget(this);
    lbServers->setObjectName(QStringLiteral("lbServers"));
    lbServers->setHeaderLabels({QStringLiteral("Spam database"), QStringLiteral("Test result")});
    lbServers->setRootIsDecorated(false);
    lbServers->setAllColumnsShowFocus(true);
    lbServers->setSelectionMode(QAbstractItemView::SingleSelection);
    lbServers->setEditTriggers(QAbstractItemView::NoEditTriggers);
    laServers->setBuddy(lbServers);
    const QFontMetrics metrics = fontMetrics();
    lbServers->header()->resizeSection(NameColumn, metrics.horizontalAdvance(QStringLiteral("x")) * 30);
    lbServers->setMinimumSize(metrics.horizontalAdvance(QStringLiteral("x")) * 56,
                              metrics.lineSpacing() * 10);
    listRow->addWidget(lbServers, 1);
    auto* listButtons = new QVBoxLayout;
    buRemove = button("buRemove", "&Remove", &TfSpamDatabase::RemoveClick);
    listButtons->addWidget(buRemove);
    buTest = button("buTest", TestText, &TfSpamDatabase::TestClick);
    buTest->setToolTip(QStringLiteral("Asks each ticked spam database for its test addresses"));
    // Wide enough for "Testing...", so the column does not jump while a test runs.
    buTest->setMinimumWidth(buTest->fontMetrics().horizontalAdvance(QString::fromLatin1(TestingText)) +
                            metrics.horizontalAdvance(QStringLiteral("xxxx")));
    listButtons->addWidget(buTest);
    listButtons->addStretch(1);
    listRow->addLayout(listButtons);
    layout->addLayout(listRow, 1);

    laTestResult = new QLabel(this);
    laTestResult->setObjectName(QStringLiteral("laTestResult"));
    laTestResult->setWordWrap(true);
    layout->addWidget(laTestResult);

    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    buClose = button("buClose", "&Close", &TfSpamDatabase::CloseClick);
    closeRow->addWidget(buClose);
    layout->addLayout(closeRow);

    connect(lbServers, &QTreeWidget::itemSelectionChanged, this, &TfSpamDatabase::UpdateButtons);
    FillList();
    // Nothing is written back to a file that could not be read, so nothing may be entered either:
    // it would be lost without a word.
    edServer->setEnabled(Readable_);
    buAdd->setEnabled(Readable_);
    UpdateButtons();
    resize(sizeHint());
}

TfSpamDatabase::~TfSpamDatabase()
{
    StopTest();
}

void TfSpamDatabase::FillList()
{
    try {
        Settings_.ReadServers();
    } catch (const classify::TDatabaseReadError& e) {
        Readable_ = false;
        Prompter_.Inform(core::TMessageKind::Error,
                         std::string(classify::FileCannotBeRead) + "\n" + e.Cause());
        return;
    } catch (const std::exception& e) {
        Readable_ = false;
        Prompter_.Inform(core::TMessageKind::Error,
                         std::string(classify::FileCannotBeRead) + "\n" + Path_ + ": " + e.what());
        return;
    }
    for (const auto& entry : Settings_.Entries())
        AddRow(entry.Name, entry.Enabled());
}

QTreeWidgetItem* TfSpamDatabase::AddRow(const std::string& name, bool ticked)
{
    auto* item = new QTreeWidgetItem(lbServers, {Q(name), QString()});
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(NameColumn, ticked ? Qt::Checked : Qt::Unchecked);
    return item;
}

void TfSpamDatabase::UpdateButtons()
{
    buRemove->setEnabled(!lbServers->selectedItems().isEmpty());
}

void TfSpamDatabase::AddClick()
{
    // The name is stored trimmed: blanks around a key would not survive the file.
    const std::string typed = core::Trim(edServer->text().toStdString());
    if (!Readable_)
        return;
    if (typed.empty()) {
        edServer->clear();
        return;
    }
    if (!classify::IsStorableServerName(typed)) {
        // Refused now, with the text kept for mending, rather than failing the whole list at Close.
        Prompter_.Inform(core::TMessageKind::Error, classify::NotStorableText(typed));
        return;
    }
    std::vector<classify::TDatabaseEntry> rows;
    for (int i = 0; i < lbServers->topLevelItemCount(); ++i)
        rows.push_back({Name(*lbServers->topLevelItem(i)), "0"});
    if (classify::AddDatabaseEntry(rows, typed))
        AddRow(rows.back().Name, false);
    edServer->clear();
}

void TfSpamDatabase::RemoveClick()
{
    const auto selected = lbServers->selectedItems();
    if (selected.isEmpty())
        return;
    if (Prompter_.Ask(core::TMessageKind::Confirmation, RemoveQuestion,
                      {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes)
        return;
    delete selected.front();
}

void TfSpamDatabase::TestClick()
{
    if (Testing())
        return;
    std::vector<std::string> zones;
    for (int i = 0; i < lbServers->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = lbServers->topLevelItem(i);
        item->setText(VerdictColumn, QString());
        item->setIcon(VerdictColumn, QIcon());
        item->setToolTip(VerdictColumn, QString());
        item->setData(VerdictColumn, Qt::ForegroundRole, QVariant());
        if (item->checkState(NameColumn) == Qt::Checked)
            zones.push_back(core::Trim(Name(*item)));
    }
    laTestResult->clear();
    if (zones.empty()) {
        Prompter_.Inform(core::TMessageKind::Information, NothingTicked);
        return;
    }
    try {
        Cancel_ = std::make_shared<classify::TDnsCancel>();
    } catch (const std::exception& e) {
        Prompter_.Inform(core::TMessageKind::Error,
                         std::string("The spam databases cannot be tested: ") + e.what());
        return;
    }
    const std::uint64_t run = ++TestRun_;
    buTest->setEnabled(false);
    buTest->setText(QString::fromLatin1(TestingText));
    laTestResult->setText(QStringLiteral("Testing %1 spam database(s)...").arg(zones.size()));
    // The queries wait up to their time-out; the window stays usable meanwhile. Nothing thrown leaves
    // the thread: a failure travels back as text with the result.
    Thread_ = std::thread([this, run, zones, cancel = Cancel_] {
        classify::TZoneCheck check;
        std::string error;
        try {
            check = classify::CheckZones(zones, cancel);
        } catch (const std::exception& e) {
            error = e.what();
        } catch (...) {
            error = "unknown failure";
        }
        QMetaObject::invokeMethod(
            this, [this, run, zones, check, error] { TestDone(run, zones, check, error); },
            Qt::QueuedConnection);
    });
}

void TfSpamDatabase::TestDone(std::uint64_t run, const std::vector<std::string>& zones,
                              const classify::TZoneCheck& check, const std::string& error)
{
    // A test stopped by closing has been joined already and its answer is dropped.
    if (run != TestRun_ || !Thread_.joinable())
        return;
    Thread_.join(); // its last act was sending this
    Cancel_.reset();
    buTest->setText(QString::fromLatin1(TestText));
    buTest->setEnabled(true);
    if (!error.empty()) {
        laTestResult->clear();
        Prompter_.Inform(core::TMessageKind::Error, "The spam databases cannot be tested: " + error);
    } else if (!check.Cancelled) {
        ShowVerdicts(zones, check.Verdicts);
    }
    emit TestFinished();
}

void TfSpamDatabase::ShowVerdicts(const std::vector<std::string>& zones,
                                  const std::vector<classify::TZoneVerdict>& verdicts)
{
    std::size_t working = 0;
    QStringList broken;
    for (std::size_t z = 0; z < zones.size() && z < verdicts.size(); ++z) {
        const classify::TZoneVerdict verdict = verdicts[z];
        const bool works = verdict == classify::TZoneVerdict::Works;
        if (works)
            ++working;
        else
            broken << Q(zones[z]);
        for (int i = 0; i < lbServers->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = lbServers->topLevelItem(i);
            if (!core::AsciiEqualNoCase(core::Trim(Name(*item)), zones[z]))
                continue;
            item->setText(VerdictColumn, Q(classify::ZoneVerdictText(verdict)));
            item->setIcon(VerdictColumn, style()->standardIcon(works ? QStyle::SP_DialogApplyButton
                                                                     : QStyle::SP_MessageBoxWarning));
            item->setToolTip(VerdictColumn, VerdictExplanation(verdict));
            item->setData(VerdictColumn, Qt::ForegroundRole,
                          works ? QVariant() : QVariant(QColor(0xb0, 0x1c, 0x1c)));
        }
    }
    if (broken.isEmpty())
        laTestResult->setText(QStringLiteral("All %1 tested spam database(s) work.").arg(working));
    else
        laTestResult->setText(QStringLiteral("%1 of %2 tested spam database(s) work. Untick or remove the "
                                             "others, they find no spam or mark every message: %3.")
                                  .arg(working)
                                  .arg(zones.size())
                                  .arg(broken.join(QStringLiteral(", "))));
}

void TfSpamDatabase::StopTest()
{
    if (!Thread_.joinable())
        return;
    Cancel_->Cancel();
    Thread_.join();
    Cancel_.reset();
    ++TestRun_;
    buTest->setText(QString::fromLatin1(TestText));
    buTest->setEnabled(true);
    laTestResult->clear();
}

bool TfSpamDatabase::Save()
{
    // A file that exists but could not be read is never written: the empty list shown is not the
    // user's list, and writing it would destroy the servers the file holds.
    if (!Readable_)
        return true;
    std::vector<classify::TDatabaseEntry> entries;
    for (int i = 0; i < lbServers->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lbServers->topLevelItem(i);
        entries.push_back({Name(*item), item->checkState(NameColumn) == Qt::Checked ? "-1" : "0"});
    }
    try {
        Settings_.WriteServers(entries);
        return true;
    } catch (const std::exception& e) {
        // The file keeps what it held; the user may stay and keep the list shown.
        return Prompter_.Ask(core::TMessageKind::Error,
                             std::string("The spam database list cannot be saved: ") + e.what() +
                                 "\nClose without saving the changes?",
                             {core::TAnswer::Yes, core::TAnswer::No}) == core::TAnswer::Yes;
    }
}

void TfSpamDatabase::CloseClick()
{
    accept();
}

void TfSpamDatabase::done(int result)
{
    StopTest();
    if (!Save())
        return;
    QDialog::done(result);
}

} // namespace tarnwick::gui
