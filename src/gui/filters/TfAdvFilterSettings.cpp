#include "gui/filters/TfAdvFilterSettings.h"

#include <algorithm>
#include <vector>

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "core/Errors.h"
#include "core/TPrompter.h"
#include "gui/filters/TfForeignCharacters.h"

namespace tarnwick::gui {

namespace {

const char* const FilterNames[TfAdvFilterSettings::FilterCount] = {
    "Duplicates",           "With Attachements",   "High Priority", "With Foreign Language Characters",
    "Mail Delivery Errors", "Very Large Messages",
};

QLabel* Heading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

QLabel* Text(const char* text, QWidget* parent)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setWordWrap(true);
    return label;
}

QSpinBox* SpinBox(const char* name, int minimum, int maximum, QWidget* parent)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(minimum, maximum);
    return box;
}

template <class T> T* Named(const char* name, const char* text, QWidget* parent)
{
    auto* control = new T(QString::fromLatin1(text), parent);
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

// What the user is told about stored values that could not be read.
std::string UnreadableText(const std::vector<views::TUnreadableSetting>& unreadable)
{
    std::string text = "These advanced filter settings could not be read and show their default values; "
                       "OK stores the values shown:";
    for (const auto& value : unreadable)
        text += "\n\"" + value.Name + "\" = '" + value.Text + "'";
    return text;
}

} // namespace

TfAdvFilterSettings::TfAdvFilterSettings(core::TRegistry& registry, core::TPrompter& prompter,
                                         std::string dataFolder, TModalRunner runModal, int presetFilter,
                                         QWidget* parent)
    : QDialog(parent)
    , Registry_(registry)
    , Prompter_(prompter)
    , DataFolder_(std::move(dataFolder))
    , RunModal_(runModal ? std::move(runModal) : TModalRunner(RunModal))
{
    setObjectName(QStringLiteral("fAdvFilterSettings"));
    setWindowTitle(QStringLiteral("Advanced Filters "));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    lbFilters = new QListWidget(this);
    lbFilters->setObjectName(QStringLiteral("lbFilters"));
    lbFilters->setSelectionMode(QAbstractItemView::SingleSelection);
    int widest = 0;
    for (const char* name : FilterNames) {
        lbFilters->addItem(QString::fromLatin1(name));
        widest = std::max(widest, lbFilters->fontMetrics().horizontalAdvance(QString::fromLatin1(name)));
    }
    const int em = fontMetrics().height();
    lbFilters->setFixedWidth(widest + 2 * lbFilters->frameWidth() + em * 2);
    nbFilterPages = new QStackedWidget(this);
    nbFilterPages->setObjectName(QStringLiteral("nbFilterPages"));
    nbFilterPages->setMinimumWidth(em * 24);
    BuildPages();
    connect(lbFilters, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            nbFilterPages->setCurrentIndex(row);
    });

    buOK = Named<QPushButton>("buOK", "OK", this);
    buOK->setDefault(true);
    buCancel = Named<QPushButton>("buCancel", "Cancel", this);
    buCancel->setAutoDefault(false);
    connect(buOK, &QPushButton::clicked, this, &TfAdvFilterSettings::OkClick);
    connect(buCancel, &QPushButton::clicked, this, &QDialog::reject);

    // The list's heading is wider than the list: it spans the page column too, so the page stands
    // beside the list and not beside the heading.
    auto* grid = new QGridLayout;
    grid->addWidget(Heading(QStringLiteral("These rules will  be applied to your Mail messages:"), this), 0,
                    0, 1, 2);
    grid->addWidget(lbFilters, 1, 0, 2, 1);
    grid->addWidget(Heading(QStringLiteral("Rule settings:"), this), 1, 1);
    grid->addWidget(nbFilterPages, 2, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(buOK);
    buttons->addWidget(buCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addLayout(buttons);

    ReadSettings();
    ShowSettings();
    ShowFilter(presetFilter >= 0 && presetFilter < FilterCount ? presetFilter : 0);
}

void TfAdvFilterSettings::BuildPages()
{
    auto page = [this](const char* name) {
        auto* widget = new QWidget(nbFilterPages);
        widget->setObjectName(QString::fromLatin1(name));
        auto* layout = new QVBoxLayout(widget);
        nbFilterPages->addWidget(widget);
        return std::pair{widget, layout};
    };
    // A spin box between two texts on one row.
    auto between = [](QVBoxLayout* layout, QWidget* parent, const char* before, QSpinBox* box,
                      const char* after) {
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(QString::fromLatin1(before), parent);
        label->setMinimumWidth(label->sizeHint().width());
        label->setBuddy(box);
        row->addWidget(label);
        row->addWidget(box);
        if (after != nullptr)
            row->addWidget(new QLabel(QString::fromLatin1(after), parent));
        row->addStretch(1);
        layout->addLayout(row);
    };

    auto [duplicates, duplicatesLayout] = page("tsDuplicates");
    seDuplicates = SpinBox("seDuplicates", 2, 50, duplicates);
    between(duplicatesLayout, duplicates, "Number of duplicates :", seDuplicates, nullptr);
    duplicatesLayout->addWidget(Text(
        "Select the fields that should be identical when considering two mails duplicates.", duplicates));
    cbIdemSubject = Named<QCheckBox>("cbIdemSubject", "Subject", duplicates);
    cbIdemTo = Named<QCheckBox>("cbIdemTo", "Sent Date", duplicates);
    cbIdemFrom = Named<QCheckBox>("cbIdemFrom", "From", duplicates);
    cbIdemSize = Named<QCheckBox>("cbIdemSize", "Size", duplicates);
    for (QCheckBox* box : {cbIdemSubject, cbIdemTo, cbIdemFrom, cbIdemSize})
        duplicatesLayout->addWidget(box);
    duplicatesLayout->addStretch(1);

    auto [attachments, attachmentsLayout] = page("tsAttachments");
    attachmentsLayout->addWidget(
        Text("This filter will select all messages that have attachements.", attachments));
    attachmentsLayout->addStretch(1);

    auto [priority, priorityLayout] = page("tsPriority");
    priorityLayout->addWidget(Text("Select the desired priority.This filter will group those mails that have "
                                   "the selected priority.",
                                   priority));
    rbHighPriority = Named<QRadioButton>("rbHighPriority", "High Priority", priority);
    rbLowPriority = Named<QRadioButton>("rbLowPriority", "Low Priority", priority);
    // Exclusive as siblings; neither is checked when the store has both off.
    priorityLayout->addWidget(rbHighPriority);
    priorityLayout->addWidget(rbLowPriority);
    priorityLayout->addStretch(1);

    auto [foreign, foreignLayout] = page("tsForeignCharacters");
    foreignLayout->addWidget(Text("Some mail messages contain foreign language characters. This filter will "
                                  "select all mail messages that have foreign characters in one of the "
                                  "following fields:",
                                  foreign));
    cbForeignInSubject = Named<QCheckBox>("cbForeignInSubject", "Subject", foreign);
    cbForeignInFrom = Named<QCheckBox>("cbForeignInFrom", "From", foreign);
    cbForeignInTo = Named<QCheckBox>("cbForeignInTo", "To", foreign);
    cbForeignInBody = Named<QCheckBox>("cbForeignInBody", "Body", foreign);
    for (QCheckBox* box : {cbForeignInSubject, cbForeignInFrom, cbForeignInTo, cbForeignInBody})
        foreignLayout->addWidget(box);
    seCharacterAppearance = SpinBox("seCharacterAppearance", 1, 200, foreign);
    between(foreignLayout, foreign, "Characters should appeare more than", seCharacterAppearance, "times");
    buCharacterSettings = Named<QPushButton>("buCharacterSettings", "Character Settings", foreign);
    buCharacterSettings->setAutoDefault(false);
    connect(buCharacterSettings, &QPushButton::clicked, this, &TfAdvFilterSettings::buCharacterSettingsClick);
    auto* characterRow = new QHBoxLayout;
    characterRow->addWidget(buCharacterSettings);
    characterRow->addStretch(1);
    foreignLayout->addLayout(characterRow);
    foreignLayout->addStretch(1);

    auto [errors, errorsLayout] = page("tsDeliveryErrors");
    errorsLayout->addWidget(Text("This filter will select all messages that could not be sent by the mail "
                                 "server (Mail Delivery Errors).",
                                 errors));
    errorsLayout->addStretch(1);

    auto [large, largeLayout] = page("tsVeryLarge");
    seLargerThenSize = SpinBox("seLargerThenSize", 1, 2000, large);
    between(largeLayout, large, "Mails that are larger in size than ", seLargerThenSize, " KB");
    largeLayout->addWidget(Text("will be selected.", large));
    largeLayout->addStretch(1);
}

void TfAdvFilterSettings::ReadSettings()
{
    std::vector<views::TUnreadableSetting> unreadable;
    try {
        Settings_ = views::ReadFilterSettingsTolerant(Registry_, unreadable);
    } catch (const core::TError& e) {
        Settings_ = views::TAdvancedFiltersSettings::Defaults();
        Prompter_.Inform(core::TMessageKind::Error,
                         std::string("The advanced filter settings cannot be read, "
                                     "their default values are shown: ") +
                             e.what());
        return;
    }
    if (!unreadable.empty())
        Prompter_.Inform(core::TMessageKind::Warning, UnreadableText(unreadable));
}

void TfAdvFilterSettings::ShowSettings()
{
    // The spin boxes clamp a stored number outside their range.
    seDuplicates->setValue(Settings_.Duplicates);
    cbIdemSubject->setChecked(Settings_.IdemSubject);
    cbIdemTo->setChecked(Settings_.IdemTo);
    cbIdemFrom->setChecked(Settings_.IdemFrom);
    cbIdemSize->setChecked(Settings_.IdemSize);
    // The view prefers high priority when both are on; the dialog shows what the view does.
    rbHighPriority->setChecked(Settings_.HighPririty);
    rbLowPriority->setChecked(Settings_.LowPririty && !Settings_.HighPririty);
    cbForeignInSubject->setChecked(Settings_.ForeignInSubject);
    cbForeignInFrom->setChecked(Settings_.ForeignInFrom);
    cbForeignInTo->setChecked(Settings_.ForeignInTo);
    cbForeignInBody->setChecked(Settings_.ForeignInBody);
    seCharacterAppearance->setValue(Settings_.CharacterAppearance);
    seLargerThenSize->setValue(Settings_.LargerThenSize);
}

void TfAdvFilterSettings::ShowFilter(int filter)
{
    lbFilters->setCurrentRow(filter);
    nbFilterPages->setCurrentIndex(filter);
}

void TfAdvFilterSettings::OkClick()
{
    views::TAdvancedFiltersSettings settings;
    settings.Duplicates = seDuplicates->value();
    settings.IdemSubject = cbIdemSubject->isChecked();
    settings.IdemFrom = cbIdemFrom->isChecked();
    settings.IdemTo = cbIdemTo->isChecked();
    settings.IdemSize = cbIdemSize->isChecked();
    settings.HighPririty = rbHighPriority->isChecked();
    settings.LowPririty = rbLowPriority->isChecked();
    settings.LargerThenSize = seLargerThenSize->value();
    settings.CharacterAppearance = seCharacterAppearance->value();
    settings.ForeignInSubject = cbForeignInSubject->isChecked();
    settings.ForeignInFrom = cbForeignInFrom->isChecked();
    settings.ForeignInTo = cbForeignInTo->isChecked();
    settings.ForeignInBody = cbForeignInBody->isChecked();
    try {
        views::WriteFilterSettings(Registry_, settings);
    } catch (const core::TError& e) {
        // The dialog stays open with the user's values.
        Prompter_.Inform(core::TMessageKind::Error,
                         std::string("The advanced filter settings cannot be stored: ") + e.what());
        return;
    }
    Settings_ = settings;
    accept();
}

void TfAdvFilterSettings::buCharacterSettingsClick()
{
    TfForeignCharacters characters(Prompter_, DataFolder_, this);
    RunModal_(characters);
}

} // namespace tarnwick::gui
