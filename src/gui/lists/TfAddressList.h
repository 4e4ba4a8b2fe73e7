#pragma once

#include <QDialog>

#include "classify/TAddressList.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace tarnwick::classify {
class TAddressLists;
}
namespace tarnwick::core {
class TPrompter;
}

namespace tarnwick::gui {

class TAddressListModel;

// The window of one address list: a field to add an address, the list's rows with a check box
// each, and the commands on them. It works on the published lists: every change is published at
// once, so the next receive classifies with it. Closing (Close, Escape, the close box) writes the
// list's file in the data folder; when that fails the window says why and stays open, and the rows
// stay in memory.
class TfAddressList : public QDialog
{
    Q_OBJECT

public:
    TfAddressList(classify::TListKind kind, core::TPrompter& prompter, QWidget* parent = nullptr,
                  classify::TAddressLists* lists = nullptr);

    classify::TListKind Kind() const { return Kind_; }
    TAddressListModel& Model() const { return *Model_; }

    void buAddClick();
    void buModifyClick();
    void buRemoveClick();
    void EnableAll(bool enabled);
    // Writes the list; false (after telling the user why) when it could not be written.
    bool SaveList();
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void UpdateButtons();

    classify::TListKind Kind_;
    core::TPrompter& Prompter_;
    classify::TAddressLists& Lists_;
    TAddressListModel* Model_ = nullptr;

    QLabel* laExplanation = nullptr;
    QLineEdit* edAddress = nullptr;
    QTreeView* lvAddresses = nullptr;
    QPushButton* buAdd = nullptr;
    QPushButton* buModify = nullptr;
    QPushButton* buRemove = nullptr;
    QPushButton* buImport = nullptr;
    QPushButton* buClose = nullptr;
    QLabel* ILEnableAll = nullptr;
    QLabel* ILDisableAll = nullptr;
};

// "Black List": senders whose messages are spam.
class TfBlackList : public TfAddressList
{
    Q_OBJECT

public:
    explicit TfBlackList(core::TPrompter& prompter, QWidget* parent = nullptr);
};

// "White List": senders whose messages are always good.
class TfWhiteList : public TfAddressList
{
    Q_OBJECT

public:
    explicit TfWhiteList(core::TPrompter& prompter, QWidget* parent = nullptr);
};

// The program's end: the lists' changes not written yet (the list windows write theirs on Close, the
// add-sender commands at once) are saved, merged with what another program wrote meanwhile. Notes
// and a failure reach the user through `prompter`; false when the lists could not be saved.
bool SaveListsAtExit(core::TPrompter& prompter);

} // namespace tarnwick::gui
