// The pages of the options dialog: their controls, texts and tooltips. Every tooltip says when the
// option takes effect where that is not obvious.
#include <algorithm>
#include <vector>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QVBoxLayout>

#include "core/MessageTexts.h"
#include "gui/options/TfOptions.h"

namespace tarnwick::gui {

namespace {

constexpr const char* NextReceive = "Takes effect with the next receive.";
constexpr const char* AtOnce = "Takes effect at once.";
constexpr const char* NextRuleView = "Takes effect the next time the messages of a rule are shown.";
constexpr const char* NextClassified =
    "Takes effect from the next message that is classified, also in a receive that is running.";

// The labels under the stops of a slider, each centred under its stop (kept inside the row at the
// ends). The row must be exactly as wide as the slider and lie right under it.
class TStopLabels : public QWidget
{
public:
    TStopLabels(QSlider* slider, const QStringList& texts, QWidget* parent)
        : QWidget(parent)
        , Slider_(slider)
    {
        setObjectName(QStringLiteral("paTimeOutLabels"));
        for (int stop = 0; stop < texts.size(); ++stop) {
            auto* label = new QLabel(texts[stop], this);
            label->setObjectName(QStringLiteral("laTimeOut%1").arg(stop));
            Labels_.push_back(label);
        }
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    QSize minimumSizeHint() const override
    {
        int width = 0;
        int height = 0;
        for (const QLabel* label : Labels_) {
            width += label->sizeHint().width() + fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 2;
            height = std::max(height, label->sizeHint().height());
        }
        return {width, height};
    }
    QSize sizeHint() const override { return minimumSizeHint(); }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        Place();
    }
    void showEvent(QShowEvent* event) override
    {
        QWidget::showEvent(event);
        Place();
    }

private:
    // The centre of a stop, from the style's own handle position for that value.
    int StopCentre(int value) const
    {
        QStyleOptionSlider option;
        option.initFrom(Slider_);
        option.orientation = Slider_->orientation();
        option.minimum = Slider_->minimum();
        option.maximum = Slider_->maximum();
        option.sliderPosition = value;
        option.sliderValue = value;
        option.tickPosition = Slider_->tickPosition();
        option.rect = Slider_->rect();
        const QRect handle =
            Slider_->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, Slider_);
        return Slider_->mapTo(parentWidget(), handle.center()).x() - x();
    }

    void Place()
    {
        for (int stop = 0; stop < static_cast<int>(Labels_.size()); ++stop) {
            QLabel* label = Labels_[static_cast<std::size_t>(stop)];
            const QSize size = label->sizeHint();
            int left = StopCentre(Slider_->minimum() + stop) - size.width() / 2;
            left = std::clamp(left, 0, std::max(0, width() - size.width()));
            label->setGeometry(left, 0, size.width(), height());
        }
    }

    QSlider* Slider_;
    std::vector<QLabel*> Labels_;
};

QLabel* Heading(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

QLabel* Note(const QString& text, const char* name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    return label;
}

template <class T> T* Named(T* widget, const char* name, const char* tip = nullptr)
{
    widget->setObjectName(QString::fromLatin1(name));
    if (tip != nullptr)
        widget->setToolTip(QString::fromLatin1(tip));
    return widget;
}

QCheckBox* Box(const QString& text, const char* name, const char* tip, QWidget* parent)
{
    return Named(new QCheckBox(text, parent), name, tip);
}

// A page: its widget and the column its controls go into, indented below the headings.
struct TPageFrame
{
    QWidget* Page;
    QVBoxLayout* Column;

    void AddHeading(const QString& text) const
    {
        if (Column->count() > 0)
            Column->addSpacing(Page->fontMetrics().height() / 2);
        Column->addWidget(Heading(text, Page));
    }
    void Add(QWidget* widget) const
    {
        auto* row = new QHBoxLayout;
        row->addSpacing(Page->fontMetrics().horizontalAdvance(QLatin1Char('M')));
        row->addWidget(widget, 1);
        Column->addLayout(row);
    }
    void Add(QLayout* layout) const
    {
        auto* row = new QHBoxLayout;
        row->addSpacing(Page->fontMetrics().horizontalAdvance(QLatin1Char('M')));
        row->addLayout(layout, 1);
        Column->addLayout(row);
    }
    QWidget* Done() const
    {
        Column->addStretch(1);
        return Page;
    }
};

TPageFrame NewPage(const char* name, QWidget* parent)
{
    auto* page = new QWidget(parent);
    page->setObjectName(QString::fromLatin1(name));
    auto* column = new QVBoxLayout(page);
    return {page, column};
}

} // namespace

void TfOptions::BuildPages()
{
    for (QWidget* page : {BuildMailReceivingPage(), BuildDownloadPage(), BuildRulesPage(), BuildCachePage(),
                          BuildConfirmationsPage(), BuildSpamDatabasesPage(), BuildFilterOptionsPage()})
        nbOptions->addWidget(page);
}

QWidget* TfOptions::BuildMailReceivingPage()
{
    const TPageFrame p = NewPage("tsMailReceiving", nbOptions);
    p.AddHeading(QStringLiteral("Mail Receiving:"));
    cbAutoReceive = Box(QStringLiteral("&Auto receive default user's messages on startup"), "cbAutoReceive",
                        "Takes effect at the next start of the program.", p.Page);
    p.Add(cbAutoReceive);

    auto* timeOut = new QVBoxLayout;
    timeOut->setSpacing(0);
    auto* timeOutLabel = new QLabel(QStringLiteral("Connecting time out:"), p.Page);
    timeOut->addWidget(timeOutLabel);
    tbTimeOut = Named(new QSlider(Qt::Horizontal, p.Page), "tbTimeOut", NextReceive);
    tbTimeOut->setRange(0, core::MaxTimeOut);
    tbTimeOut->setPageStep(1);
    tbTimeOut->setTickPosition(QSlider::TicksBelow);
    tbTimeOut->setTickInterval(1);
    timeOutLabel->setBuddy(tbTimeOut);
    timeOut->addWidget(tbTimeOut);
    timeOut->addWidget(
        new TStopLabels(tbTimeOut,
                        {QStringLiteral("2 sec"), QStringLiteral("5 sec"), QStringLiteral("10 sec"),
                         QStringLiteral("30 sec"), QStringLiteral("1 min"), QStringLiteral("2 min")},
                        p.Page));
    p.Column->addSpacing(p.Page->fontMetrics().height() / 2);
    p.Add(timeOut);

    p.AddHeading(QStringLiteral("Miscellaneous:"));
    cbRAlwaysonTop =
        Box(QStringLiteral("Receiving window always on top"), "cbRAlwaysonTop", NextReceive, p.Page);
    p.Add(cbRAlwaysonTop);
    cbAutoscrollonAdd = Box(QStringLiteral("Autoscroll list to last added"), "cbAutoscrollonAdd",
                            "Takes effect at once, also in a receive that is running.", p.Page);
    p.Add(cbAutoscrollonAdd);
    // Outlook Express does not exist on this system: the switch and its note are kept, hidden.
    cbOEIntegration = Box(QStringLiteral("Enable/Disable Outlook Express Integration "), "cbOEIntegration",
                          nullptr, p.Page);
    laOEIntegrationNote =
        Note(QStringLiteral("Important note! You must restart Outlook Express if it is running "
                            "before changes take effect."),
             "laOEIntegrationNote", p.Page);
    p.Add(cbOEIntegration);
    p.Add(laOEIntegrationNote);
    cbOEIntegration->hide();
    laOEIntegrationNote->hide();
    return p.Done();
}

QWidget* TfOptions::BuildDownloadPage()
{
    const TPageFrame p = NewPage("tsDownload", nbOptions);
    p.AddHeading(QStringLiteral("General:"));
    cbAlwaysFullMessage =
        Box(QStringLiteral("Always download full message"), "cbAlwaysFullMessage", NextReceive, p.Page);
    p.Add(cbAlwaysFullMessage);
    p.Add(Note(QStringLiteral("Important! If you choose to download the full message, be aware that some of "
                              "these messages may contain viruses."),
               "laFullMessageNote", p.Page));
    p.AddHeading(QStringLiteral("Download speed:"));
    cmbDownloadSpeed = Named(new QComboBox(p.Page), "cmbDownloadSpeed", NextReceive);
    for (const std::string_view name : core::texts::SpeedNames)
        cmbDownloadSpeed->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    auto* speed = new QHBoxLayout;
    speed->addWidget(cmbDownloadSpeed);
    speed->addStretch(1);
    p.Add(speed);
    return p.Done();
}

QWidget* TfOptions::BuildRulesPage()
{
    const TPageFrame p = NewPage("tsRules", nbOptions);
    p.AddHeading(QStringLiteral("Find options:"));
    cbRuleCase = Box(QStringLiteral("&Case sensitive"), "cbRuleCase", NextRuleView, p.Page);
    p.Add(cbRuleCase);
    cbWholeWordsOnly = Box(QStringLiteral("&Whole words only"), "cbWholeWordsOnly", NextRuleView, p.Page);
    p.Add(cbWholeWordsOnly);

    // The rule editor picks addresses from the contacts, so their place is set beside its options.
    p.AddHeading(QStringLiteral("Contacts:"));
    auto* label = new QLabel(QStringLiteral("&Address book (a vCard file or folder):"), p.Page);
    p.Add(label);
    edAddressBook = Named(new QLineEdit(p.Page), "edAddressBook",
                          "The contacts that the rule editor's address picker and the address import offer: "
                          "a vCard (.vcf) file or a folder of them. Empty: the desktop's contacts "
                          "(~/.local/share/contacts, Evolution's address book or ~/.contacts).");
    edAddressBook->setPlaceholderText(QStringLiteral("The desktop's contacts"));
    edAddressBook->setClearButtonEnabled(true);
    label->setBuddy(edAddressBook);
    buAddressBook = Named(new QPushButton(QStringLiteral("Choose..."), p.Page), "buAddressBook",
                          "Choose a vCard file or a folder of them; it takes effect with OK.");
    buAddressBook->setAutoDefault(false);
    auto* book = new QHBoxLayout;
    book->addWidget(edAddressBook, 1);
    book->addWidget(buAddressBook);
    p.Add(book);
    return p.Done();
}

QWidget* TfOptions::BuildCachePage()
{
    const TPageFrame p = NewPage("tsCache", nbOptions);
    p.AddHeading(QStringLiteral("Directory:"));
    auto* label = new QLabel(QStringLiteral("Please select Cache directory:"), p.Page);
    p.Add(label);
    edCacheDir = Named(new QLineEdit(p.Page), "edCacheDir",
                       "A folder typed here takes effect with OK; one that does not exist is replaced by the "
                       "data folder. A folder chosen with the button takes effect at once.");
    label->setBuddy(edCacheDir);
    buBrowse = Named(new QPushButton(QStringLiteral("..."), p.Page), "buBrowse",
                     "The folder chosen takes effect at once and stays when the dialog is cancelled.");
    buBrowse->setAutoDefault(false);
    auto* folder = new QHBoxLayout;
    folder->addWidget(edCacheDir, 1);
    folder->addWidget(buBrowse);
    p.Add(folder);

    p.AddHeading(QStringLiteral("Operations:"));
    cbClearCache = Box(QStringLiteral("&Clear Cache on exit"), "cbClearCache",
                       "Takes effect when the program exits: the message cache is deleted then.", p.Page);
    p.Add(cbClearCache);
    buClearCache = Named(new QPushButton(QStringLiteral("Clear Cache &now"), p.Page), "buClearCache",
                         "Deletes the message cache at once; what cannot be deleted stays.");
    buClearCache->setAutoDefault(false);
    auto* clear = new QHBoxLayout;
    clear->addWidget(buClearCache);
    clear->addStretch(1);
    p.Add(clear);
    return p.Done();
}

QWidget* TfOptions::BuildConfirmationsPage()
{
    const TPageFrame p = NewPage("tsConfirmations", nbOptions);
    p.AddHeading(QStringLiteral("Confirmations:"));
    p.Add(new QLabel(QStringLiteral("Show confirmation box when:"), p.Page));
    cbConfirmEmptyTrash = Box(QStringLiteral("Empty the trash"), "cbConfirmEmptyTrash", AtOnce, p.Page);
    cbConfirmRemoveRule = Box(QStringLiteral("Remove a rule"), "cbConfirmRemoveRule", AtOnce, p.Page);
    cbConfirmRemoveUser = Box(QStringLiteral("Remove a user"), "cbConfirmRemoveUser", AtOnce, p.Page);
    cbConfirmRemoveAddress = Box(QStringLiteral("Remove an address from Black/White list"),
                                 "cbConfirmRemoveAddress", AtOnce, p.Page);
    for (QCheckBox* box :
         {cbConfirmEmptyTrash, cbConfirmRemoveRule, cbConfirmRemoveUser, cbConfirmRemoveAddress})
        p.Add(box);
    p.AddHeading(QStringLiteral("Warnings:"));
    p.Add(new QLabel(QStringLiteral("Show warning box when:"), p.Page));
    cbWarnAddressInList = Box(QStringLiteral("An address is already in Black/White list"),
                              "cbWarnAddressInList", AtOnce, p.Page);
    cbWarnTrashNotEmpty =
        Box(QStringLiteral("Trash is not empty when exiting program"), "cbWarnTrashNotEmpty", AtOnce, p.Page);
    cbTrashNotEmptyAfterReceive = Box(QStringLiteral("After receiving messages, trash is not empty"),
                                      "cbTrashNotEmptyAfterReceive", AtOnce, p.Page);
    for (QCheckBox* box : {cbWarnAddressInList, cbWarnTrashNotEmpty, cbTrashNotEmptyAfterReceive})
        p.Add(box);
    return p.Done();
}

QWidget* TfOptions::BuildSpamDatabasesPage()
{
    const TPageFrame p = NewPage("tsSpamDatabases", nbOptions);
    p.AddHeading(QStringLiteral("General"));
    p.Add(Note(
        QStringLiteral("You can find out if an email comes from a spammer if you verify that it contains "
                       "IPs listed on Realtime Blackhole List (RBL). "),
        "laRblNote", p.Page));
    p.Add(Note(QStringLiteral("You are provided with a list of known RBL by default. You can add, modify or "
                              "remove databases as you like."),
               "laRblListNote", p.Page));
    auto* list = new QHBoxLayout;
    list->addWidget(new QLabel(QStringLiteral("List with databases "), p.Page));
    buConfigure = Named(new QPushButton(QStringLiteral("Configure"), p.Page), "buConfigure",
                        "Changes to the list take effect with the next receive.");
    buConfigure->setAutoDefault(false);
    list->addWidget(buConfigure);
    list->addStretch(1);
    p.Column->addSpacing(p.Page->fontMetrics().height() / 2);
    p.Add(list);
    return p.Done();
}

QWidget* TfOptions::BuildFilterOptionsPage()
{
    const TPageFrame p = NewPage("tsFilterOptions", nbOptions);
    p.AddHeading(QStringLiteral("General"));
    p.Add(new QLabel(QStringLiteral("Choose what action to perform for the mail "), p.Page));
    // One group of radio buttons each; a group of its own keeps their choices apart.
    auto group = [&p](const char* title, const char* name, const char* tip,
                      std::initializer_list<QRadioButton*> buttons) {
        auto* box = Named(new QGroupBox(QString::fromLatin1(title), p.Page), name, tip);
        auto* column = new QVBoxLayout(box);
        auto* exclusive = new QButtonGroup(box);
        for (QRadioButton* button : buttons) {
            button->setParent(box);
            exclusive->addButton(button);
            column->addWidget(button);
        }
        p.Add(box);
    };
    rbWhiteListed = Named(new QRadioButton(QStringLiteral("Always in Good messages")), "rbWhiteListed");
    rbWhiteListed->setChecked(true);
    group("Sender is White Listed", "gbWhiteListed", nullptr, {rbWhiteListed});
    rbDatabaseDelete = Named(new QRadioButton(QStringLiteral("Delete email ")), "rbDatabaseDelete");
    rbDatabaseMark =
        Named(new QRadioButton(QStringLiteral("Mark the email as listed (default)")), "rbDatabaseMark");
    group("Sender is Black Listed or RBL", "gbDatabaseAction", NextClassified,
          {rbDatabaseDelete, rbDatabaseMark});
    rbResponseDelete = Named(new QRadioButton(QStringLiteral("Delete email")), "rbResponseDelete");
    rbResponseMark = Named(new QRadioButton(QStringLiteral("Mark the email (default)")), "rbResponseMark");
    group("Questionable", "gbResponseAction", NextClassified, {rbResponseDelete, rbResponseMark});
    return p.Done();
}

} // namespace tarnwick::gui
