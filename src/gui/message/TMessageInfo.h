#pragma once

#include <string_view>

#include <QString>

#include "accounts/TMailMessage.h"

class QPlainTextEdit;
class QTextBrowser;

namespace tarnwick::gui {

// Text of a header line or a cache file line: UTF-8 where the bytes are UTF-8, otherwise each
// byte as its windows-1252 character (Latin-1 for the bytes that code page leaves undefined), so
// no byte is lost and nothing shows as a replacement character.
QString LineText(std::string_view bytes);

// The sizes of the info view's text styles; the main window's preview is a little larger than the
// message window's panel.
struct TInfoStyle
{
    qreal PointSize = 10;
    qreal LeftMargin = 20;
    qreal RightMargin = 20;
};

// Fills `view` with the record's summary: name, address, company, subject, date sent and
// recipients, the address and the recipients as links, and the reason of its classification when
// it has one. Addresses of look-alike domains show in their ASCII form.
void ShowMessageInfo(const accounts::TMailMessage& record, QTextBrowser& view, TInfoStyle style = {});

// The memo's lines become the record's header lines, in order.
void ShowMessageHeader(const accounts::TMailMessage& record, QPlainTextEdit& memo);

// The "Sent" value of the summary: the user's short date followed by the long time, the time left
// out at exactly midnight; empty when the message has no date.
QString SentSummary(std::int64_t sent);

// "1 remote resource blocked", "3 remote resources blocked"; empty for none.
QString BlockedRemoteText(int count);

} // namespace tarnwick::gui
