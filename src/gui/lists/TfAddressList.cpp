#include "gui/lists/TfAddressList.h"

#include <set>
#include <string>
#include <utility>
#include <vector>

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "classify/TAddressLists.h"
#include "classify/TListEditing.h"
#include "core/Errors.h"
#include "core/Modules.h"
#include "core/TFolders.h"
#include "core/TOptionRec.h"
#include "core/TPrompter.h"
#include "gui/lists/TAddressListModel.h"

namespace tarnwick::gui {

namespace {

// Stands in for the user's prompter while a list is being changed: the change runs under the
// lists' write lock, and a message box would run the event loop while it is held. Messages are kept
// and shown once the change is published.
class TPromptsAfterChange : public core::TPrompter
{
public:
    void Inform(core::TMessageKind kind, const std::string& text) override { Kept_.emplace_back(kind, text); }
    // The one question of a list change (removing rows) is asked before the change starts; one
    // asked here would come too late, and is refused.
    core::TAnswer Ask(core::TMessageKind, const std::string&, const std::vector<core::TAnswer>&) override
    {
        return core::TAnswer::No;
    }
    void ShowTo(core::TPrompter& prompter) const
    {
        for (const auto& [kind, text] : Kept_)
            prompter.Inform(kind, text);
    }

private:
    std::vector<std::pair<core::TMessageKind, std::string>> Kept_;
};

QLabel* LinkLabel(const QString& text, const char* name, QWidget* parent)
{
    auto* label = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

QString Explanation(classify::TListKind kind)
{
    return kind == classify::TListKind::Black
               ? QStringLiteral("Type the e-mail address and click Add to add it to the Black list. Messages "
                                "from these addresses will be automatically deleted or marked on receiving.")
               : QStringLiteral("Type the e-mail address and click Add to add it to the White list. Messages "
                                "from these addresses will be not filtered.");
}

core::TOptionRec CurrentOptions()
{
    const auto options = core::Options();
    return options ? *options : core::TOptionRec{};
}

std::string ListCaption(classify::TListKind kind)
{
    return std::string(classify::ListName(kind)) + " list";
}

} // namespace

TfAddressList::TfAddressList(classify::TListKind kind, core::TPrompter& prompter, QWidget* parent,
                             classify::TAddressLists* lists)
    : QDialog(parent)
    , Kind_(kind)
    , Prompter_(prompter)
    , Lists_(lists != nullptr ? *lists : classify::AddressLists())
{
    const bool black = kind == classify::TListKind::Black;
    setObjectName(black ? QStringLiteral("fBlackList") : QStringLiteral("fWhiteList"));
    setWindowTitle(black ? QStringLiteral("Black List") : QStringLiteral("White List"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    laExplanation = new QLabel(Explanation(kind), this);
    laExplanation->setObjectName(QStringLiteral("laExplanation"));
    laExplanation->setWordWrap(true);
    edAddress = new QLineEdit(this);
    edAddress->setObjectName(QStringLiteral("edAddress"));
    // Up to the longest text a list file holds; Add refuses a text whose bytes are more.
    edAddress->setMaxLength(static_cast<int>(classify::MaxListText));

    Model_ = new TAddressListModel(Lists_, kind, this);
    lvAddresses = new QTreeView(this);
    lvAddresses->setObjectName(QStringLiteral("lvAddresses"));
    lvAddresses->setRootIsDecorated(false);
    lvAddresses->setItemsExpandable(false);
    lvAddresses->setUniformRowHeights(true);
    lvAddresses->setAllColumnsShowFocus(true);
    lvAddresses->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvAddresses->setSelectionBehavior(QAbstractItemView::SelectRows);
    // The in-place edit starts from Modify... (or F2), never from a stray click.
    lvAddresses->setEditTriggers(QAbstractItemView::EditKeyPressed);
    lvAddresses->setModel(Model_);
    lvAddresses->header()->setStretchLastSection(true);
    lvAddresses->installEventFilter(this);

    auto button = [this](const char* name, const char* text) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    buAdd = button("buAdd", "Add");
    buAdd->setDefault(true);
    buModify = button("buModify", "Modify...");
    buRemove = button("buRemove", "&Remove");
    buImport = button("buImport", "Import...");
    // The address import is a window of its own that this program does not have yet; the button
    // says so instead of doing nothing.
    buImport->setEnabled(false);
    buImport->setToolTip(QStringLiteral("The address import is not available yet."));
    buClose = button("buClose", "&Close");
    ILEnableAll = LinkLabel(QStringLiteral("Enable all addresses"), "ILEnableAll", this);
    ILDisableAll = LinkLabel(QStringLiteral("Disable all addresses"), "ILDisableAll", this);

    connect(buAdd, &QPushButton::clicked, this, &TfAddressList::buAddClick);
    connect(buModify, &QPushButton::clicked, this, &TfAddressList::buModifyClick);
    connect(buRemove, &QPushButton::clicked, this, &TfAddressList::buRemoveClick);
    connect(buClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(ILEnableAll, &QLabel::linkActivated, this, [this] { EnableAll(true); });
    connect(ILDisableAll, &QLabel::linkActivated, this, [this] { EnableAll(false); });
    connect(edAddress, &QLineEdit::textChanged, this, &TfAddressList::UpdateButtons);
    connect(lvAddresses->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfAddressList::UpdateButtons);
    connect(Model_, &QAbstractItemModel::modelReset, this, &TfAddressList::UpdateButtons);
    // Queued: the edited row is selected where it stands now once its editor has closed (moving the
    // current row while the editor commits would close it under the view's feet).
    connect(
        Model_, &TAddressListModel::AddressEdited, this,
        [this](int row) {
            const QModelIndex at = Model_->index(row);
            if (!at.isValid())
                return;
            lvAddresses->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect |
                                                                   QItemSelectionModel::Rows);
            lvAddresses->scrollTo(at);
        },
        Qt::QueuedConnection);
    connect(Model_, &TAddressListModel::EditRefused, this, [this](const QString& reason) {
        Prompter_.Inform(core::TMessageKind::Warning, reason.toStdString());
    });

    auto* field = new QHBoxLayout;
    field->addWidget(edAddress, 1);
    field->addWidget(buAdd);
    auto* side = new QVBoxLayout;
    side->addWidget(buModify);
    side->addWidget(buRemove);
    side->addWidget(buImport);
    side->addStretch(1);
    side->addWidget(buClose);
    auto* links = new QHBoxLayout;
    links->addWidget(ILEnableAll);
    links->addSpacing(fontMetrics().height());
    links->addWidget(ILDisableAll);
    links->addStretch(1);
    auto* rows = new QVBoxLayout;
    rows->addWidget(lvAddresses, 1);
    rows->addLayout(links);
    auto* body = new QHBoxLayout;
    body->addLayout(rows, 1);
    body->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(laExplanation);
    layout->addLayout(field);
    layout->addLayout(body, 1);
    const int em = fontMetrics().height();
    laExplanation->setMinimumWidth(em * 24);
    lvAddresses->setMinimumSize(em * 18, em * 14);
    resize(sizeHint());
    UpdateButtons();
}

void TfAddressList::UpdateButtons()
{
    buAdd->setEnabled(!edAddress->text().isEmpty());
    const bool selected = lvAddresses->selectionModel()->hasSelection();
    buModify->setEnabled(selected);
    buRemove->setEnabled(selected);
}

void TfAddressList::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The add-sender commands may have changed the list while the window was closed.
    Model_->Reload();
    edAddress->clear();
    UpdateButtons();
    edAddress->setFocus();
}

bool TfAddressList::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lvAddresses && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        buRemoveClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfAddressList::buAddClick()
{
    const std::string text = edAddress->text().toStdString();
    const core::TOptionRec options = CurrentOptions();
    TPromptsAfterChange kept;
    classify::TAddOutcome outcome = classify::TAddOutcome::Added;
    Model_->Change([&](classify::TAddressList& list, classify::TAddressList& other) {
        outcome = classify::AddWithWarning(list, other, text, options, kept);
    });
    kept.ShowTo(Prompter_);
    if (outcome == classify::TAddOutcome::ListFull)
        Prompter_.Inform(core::TMessageKind::Warning,
                         "The " + ListCaption(Kind_) + " is full: it holds at most " +
                             std::to_string(classify::MaxListRows) + " addresses.");
    else if (outcome == classify::TAddOutcome::TooLong)
        Prompter_.Inform(core::TMessageKind::Warning,
                         "The address is too long: a list holds addresses of at most " +
                             std::to_string(classify::MaxListText) + " bytes.");
    if (outcome == classify::TAddOutcome::Added)
        edAddress->clear();
    UpdateButtons();
    edAddress->setFocus();
}

void TfAddressList::buModifyClick()
{
    QModelIndex at = lvAddresses->currentIndex();
    if (!at.isValid() || !lvAddresses->selectionModel()->isSelected(at)) {
        const QModelIndexList selected = lvAddresses->selectionModel()->selectedRows();
        if (selected.isEmpty())
            return;
        at = selected.front();
    }
    lvAddresses->setFocus();
    lvAddresses->setCurrentIndex(at);
    lvAddresses->scrollTo(at);
    lvAddresses->edit(at);
}

void TfAddressList::buRemoveClick()
{
    core::TOptionRec options = CurrentOptions();
    // The question comes first, outside the change (see TPromptsAfterChange), and is asked even when
    // nothing is selected.
    if (core::IsOn(options.ConfirmRemoveAddress)) {
        if (Prompter_.Ask(core::TMessageKind::Confirmation, std::string(classify::ConfirmDeleteAddress),
                          {core::TAnswer::Yes, core::TAnswer::No}) != core::TAnswer::Yes)
            return;
        options.ConfirmRemoveAddress = "0";
    }
    std::set<std::size_t> selected;
    for (const QModelIndex& index : lvAddresses->selectionModel()->selectedRows())
        selected.insert(static_cast<std::size_t>(index.row()));
    if (selected.empty())
        return;
    TPromptsAfterChange kept;
    Model_->Change([&](classify::TAddressList& list, classify::TAddressList&) {
        classify::RemoveSelected(list, selected, options, kept);
    });
    kept.ShowTo(Prompter_);
    UpdateButtons();
}

void TfAddressList::EnableAll(bool enabled)
{
    Model_->SetAllEnabled(enabled);
}

bool TfAddressList::SaveList()
{
    try {
        // What the save had to say (a damaged file kept aside) reaches the user.
        for (const std::string& note : Lists_.Save(core::Folders().DataFolder, Kind_))
            Prompter_.Inform(core::TMessageKind::Warning, note);
        return true;
    } catch (const std::exception& e) {
        // The rows stay in memory either way, and the program saves the lists again when it ends;
        // so the user may close now, or keep the window open and try again once the cause is gone.
        return Prompter_.Ask(core::TMessageKind::Error,
                             "The " + ListCaption(Kind_) + " cannot be saved: " + e.what() +
                                 "\nThe addresses stay in memory and are saved again when the program "
                                 "ends. Do you want to close the window anyway ?",
                             {core::TAnswer::Yes, core::TAnswer::No}) == core::TAnswer::Yes;
    }
}

void TfAddressList::done(int result)
{
    if (!SaveList())
        return;
    QDialog::done(result);
}

TfBlackList::TfBlackList(core::TPrompter& prompter, QWidget* parent)
    : TfAddressList(classify::TListKind::Black, prompter, parent)
{}

TfWhiteList::TfWhiteList(core::TPrompter& prompter, QWidget* parent)
    : TfAddressList(classify::TListKind::White, prompter, parent)
{}

bool SaveListsAtExit(core::TPrompter& prompter)
{
    try {
        for (const std::string& note : classify::AddressLists().Save(core::Folders().DataFolder))
            prompter.Inform(core::TMessageKind::Warning, note);
        return true;
    } catch (const std::exception& e) {
        prompter.Inform(core::TMessageKind::Error,
                        std::string("The address lists could not be saved: ") + e.what());
        return false;
    }
}

} // namespace tarnwick::gui
