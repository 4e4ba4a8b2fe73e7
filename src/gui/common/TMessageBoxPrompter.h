#pragma once

#include <QPointer>
#include <QWidget>

#include "core/TPrompter.h"

namespace tarnwick::gui {

// Shows the libraries' messages and questions as modal message boxes over a parent window.
class TMessageBoxPrompter : public core::TPrompter
{
public:
    explicit TMessageBoxPrompter(QWidget* parent = nullptr)
        : Parent_(parent)
    {}
    void SetParent(QWidget* parent) { Parent_ = parent; }

    void Inform(core::TMessageKind kind, const std::string& text) override;
    core::TAnswer Ask(core::TMessageKind kind, const std::string& text,
                      const std::vector<core::TAnswer>& buttons) override;

private:
    QPointer<QWidget> Parent_;
};

} // namespace tarnwick::gui
