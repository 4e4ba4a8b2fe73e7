#pragma once

#include <QDialog>

class QFileSystemModel;
class QPushButton;
class QTreeView;

namespace tarnwick::gui {

// "Browse for folder": the folders of the file system as a tree rooted at "/", the home folder
// expanded and selected at first. OK is enabled exactly while the selected node is a folder that
// exists, checked when the window is shown or activated and at every change of the selection, so a
// folder removed meanwhile cannot be chosen. One is kept by the main window and reused.
class TFBrowse : public QDialog
{
    Q_OBJECT

public:
    explicit TFBrowse(QWidget* parent = nullptr);

    // The path of the selected folder (empty when nothing is selected).
    QString SelectedFolder() const;
    // Selects the folder at `path`, expanding the folders above it.
    void SetFolder(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void UpdateOkButton();

    QFileSystemModel* Model_ = nullptr;
    QTreeView* tvFolders = nullptr;
    QPushButton* BTOk = nullptr;
    QPushButton* BTCancel = nullptr;
};

} // namespace tarnwick::gui
