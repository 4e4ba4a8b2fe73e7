#include "gui/filters/TfForeignCharacters.h"

#include <optional>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>
#include <QValidator>

#include "core/Errors.h"
#include "core/TPrompter.h"
#include "views/TForeignCharacters.h"

namespace tarnwick::gui {

namespace {

// The entry's bytes as read from the file: written back unchanged, also when they are not UTF-8.
constexpr int BytesRole = Qt::UserRole;

// The first user-perceived character of the text (a letter with its combining marks, a character
// outside the Basic Multilingual Plane, an emoji sequence), or the empty text.
QString FirstCharacter(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    const qsizetype end = finder.toNextBoundary();
    return end < 0 ? QString() : text.left(end);
}

// Accepts at most one user-perceived character, so typing or pasting more is refused.
class TOneCharacter : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return FirstCharacter(input).size() == input.size() ? Acceptable : Invalid;
    }
};

// Orders the list by the entries' code points (UTF-16 code units would put characters beyond the
// Basic Multilingual Plane among the private-use ones).
class TCharacterItem : public QListWidgetItem
{
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& other) const override { return CodePoints() < Of(other); }

private:
    QList<uint> CodePoints() const { return Of(*this); }
    static QList<uint> Of(const QListWidgetItem& item)
    {
        return QString::fromUtf8(item.data(BytesRole).toByteArray()).toUcs4();
    }
};

// What the list shows for an entry: the character itself, or its code ("U+0081") when it would
// show as nothing or as an empty box (control characters, blanks, unassigned codes).
QString Shown(const QString& entry)
{
    const QList<uint> points = entry.toUcs4();
    if (points.size() != 1)
        return entry;
    const auto point = static_cast<char32_t>(points.front());
    if (QChar::isPrint(point) && !QChar::isSpace(point))
        return entry;
    return QStringLiteral("U+%1").arg(static_cast<uint>(point), 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

TfForeignCharacters::TfForeignCharacters(core::TPrompter& prompter, std::string dataFolder, QWidget* parent)
    : QDialog(parent)
    , Prompter_(prompter)
    , DataFolder_(std::move(dataFolder))
{
    setObjectName(QStringLiteral("fForeignCharacters"));
    setWindowTitle(QStringLiteral("Character Settings"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* intro = new QLabel(
        QStringLiteral("This list contains characters that should not appeare in your mail messages. "),
        this);
    intro->setWordWrap(true);
    edCharacter = new QLineEdit(this);
    edCharacter->setObjectName(QStringLiteral("edCharacter"));
    edCharacter->setValidator(new TOneCharacter(edCharacter));
    edCharacter->setMaximumWidth(fontMetrics().horizontalAdvance(QLatin1Char('W')) * 4);
    auto* fieldLabel = new QLabel(QStringLiteral("Add this character to list:      "), this);
    fieldLabel->setBuddy(edCharacter);
    lbCharacters = new QListWidget(this);
    lbCharacters->setObjectName(QStringLiteral("lbCharacters"));
    lbCharacters->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lbCharacters->setSortingEnabled(true);

    auto button = [this](const char* name, const char* text) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    buAdd = button("buAdd", "Add");
    buDelete = button("buDelete", "Delete");
    buDelete->setEnabled(false);
    buOK = button("buOK", "OK");
    buOK->setDefault(true);
    buCancel = button("buCancel", "Cancel");
    connect(buAdd, &QPushButton::clicked, this, &TfForeignCharacters::buAddClick);
    connect(edCharacter, &QLineEdit::returnPressed, this, &TfForeignCharacters::buAddClick);
    connect(buDelete, &QPushButton::clicked, this, &TfForeignCharacters::buDeleteClick);
    connect(buOK, &QPushButton::clicked, this, &TfForeignCharacters::OkClick);
    connect(buCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lbCharacters, &QListWidget::itemSelectionChanged, this,
            [this] { buDelete->setEnabled(!lbCharacters->selectedItems().isEmpty()); });

    auto* field = new QHBoxLayout;
    field->addWidget(fieldLabel);
    field->addWidget(edCharacter);
    field->addWidget(buAdd);
    field->addStretch(1);
    auto* side = new QVBoxLayout;
    side->addWidget(buDelete);
    side->addStretch(1);
    side->addWidget(buOK);
    side->addWidget(buCancel);
    auto* body = new QHBoxLayout;
    body->addWidget(lbCharacters, 1);
    body->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(field);
    layout->addLayout(body, 1);
    const int em = fontMetrics().height();
    lbCharacters->setMinimumSize(em * 14, em * 14);
    intro->setMinimumWidth(em * 20);

    std::optional<std::vector<std::string>> entries;
    try {
        entries = views::TForeignCharacters::Read(DataFolder_);
        if (!entries)
            entries = views::TForeignCharacters::InitialSet();
    } catch (const core::TError& e) {
        Prompter_.Inform(core::TMessageKind::Error, e.what());
    }
    if (entries)
        for (const auto& entry : *entries)
            AddEntry(entry);
}

void TfForeignCharacters::AddEntry(const std::string& entry)
{
    auto* item =
        new TCharacterItem(Shown(QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()))));
    item->setData(BytesRole, QByteArray(entry.data(), static_cast<qsizetype>(entry.size())));
    lbCharacters->addItem(item);
}

std::vector<std::string> TfForeignCharacters::Entries() const
{
    std::vector<std::string> entries;
    entries.reserve(static_cast<std::size_t>(lbCharacters->count()));
    for (int row = 0; row < lbCharacters->count(); ++row)
        entries.push_back(lbCharacters->item(row)->data(BytesRole).toByteArray().toStdString());
    return entries;
}

void TfForeignCharacters::buAddClick()
{
    const QString character = FirstCharacter(edCharacter->text());
    if (!character.isEmpty())
        AddEntry(character.toUtf8().toStdString());
    edCharacter->clear();
    edCharacter->setFocus();
}

void TfForeignCharacters::buDeleteClick()
{
    qDeleteAll(lbCharacters->selectedItems());
    buDelete->setEnabled(!lbCharacters->selectedItems().isEmpty());
}

void TfForeignCharacters::OkClick()
{
    try {
        views::TForeignCharacters::Write(DataFolder_, Entries());
    } catch (const core::TError& e) {
        // The dialog stays open with the list, so nothing of it is lost.
        Prompter_.Inform(core::TMessageKind::Error, e.what());
        return;
    }
    accept();
}

} // namespace tarnwick::gui
