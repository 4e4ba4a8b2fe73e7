#include "TMessageBoxPrompter.h"

#include <QApplication>
#include <QMessageBox>

namespace tarnwick::gui {

namespace {

QMessageBox::Icon IconOf(core::TMessageKind kind)
{
    switch (kind) {
    case core::TMessageKind::Information:
        return QMessageBox::Information;
    case core::TMessageKind::Confirmation:
        return QMessageBox::Question;
    case core::TMessageKind::Warning:
        return QMessageBox::Warning;
    case core::TMessageKind::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

struct TButtonPair
{
    core::TAnswer Answer;
    QMessageBox::StandardButton Button;
};

constexpr TButtonPair ButtonPairs[] = {
    {core::TAnswer::Ok, QMessageBox::Ok},
    {core::TAnswer::Cancel, QMessageBox::Cancel},
    {core::TAnswer::Yes, QMessageBox::Yes},
    {core::TAnswer::No, QMessageBox::No},
    {core::TAnswer::YesToAll, QMessageBox::YesToAll},
    {core::TAnswer::NoToAll, QMessageBox::NoToAll},
    {core::TAnswer::Abort, QMessageBox::Abort},
    {core::TAnswer::Retry, QMessageBox::Retry},
    {core::TAnswer::Ignore, QMessageBox::Ignore},
};

} // namespace

void TMessageBoxPrompter::Inform(core::TMessageKind kind, const std::string& text)
{
    QMessageBox box(IconOf(kind), QApplication::applicationName(), QString::fromStdString(text),
                    QMessageBox::Ok, Parent_.data());
    box.exec();
}

core::TAnswer TMessageBoxPrompter::Ask(core::TMessageKind kind, const std::string& text,
                                       const std::vector<core::TAnswer>& buttons)
{
    QMessageBox::StandardButtons standard;
    for (const auto answer : buttons)
        for (const auto& pair : ButtonPairs)
            if (pair.Answer == answer)
                standard |= pair.Button;
    QMessageBox box(IconOf(kind), QApplication::applicationName(), QString::fromStdString(text), standard,
                    Parent_.data());
    const int chosen = box.exec();
    for (const auto& pair : ButtonPairs)
        if (pair.Button == chosen)
            return pair.Answer;
    // Closing the box without a button counts as the last button offered (No or Cancel).
    return buttons.empty() ? core::TAnswer::Cancel : buttons.back();
}

} // namespace tarnwick::gui
