#pragma once

#include <QDialog>

#include "accounts/TMailMessage.h"

class QTextBrowser;

namespace tarnwick::gui {

// A message's source as the cache file holds it: the header lines in bold, then the body.
class TfMailSource : public QDialog
{
    Q_OBJECT

public:
    explicit TfMailSource(QWidget* parent = nullptr);

    // Fills the window with the record's cache file ("Message was truncated" when the cache does
    // not hold the message). The caller shows it modally.
    void ShowSource(const accounts::TMailMessage& record);

private:
    QTextBrowser* RichView1 = nullptr;
};

} // namespace tarnwick::gui
