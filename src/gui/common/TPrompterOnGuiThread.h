#pragma once

#include "core/TPrompter.h"

class QObject;

namespace tarnwick::gui {

// Hands the messages and questions of work running on another thread to a prompter that lives on
// the thread of `context` (the user-interface thread) and waits for the answer there. On that
// thread itself it calls the prompter directly. An exception of the prompter reaches the caller.
class TPrompterOnGuiThread : public core::TPrompter
{
public:
    TPrompterOnGuiThread(core::TPrompter& prompter, QObject& context);

    void Inform(core::TMessageKind kind, const std::string& text) override;
    core::TAnswer Ask(core::TMessageKind kind, const std::string& text,
                      const std::vector<core::TAnswer>& buttons) override;

private:
    core::TPrompter& Prompter_;
    QObject& Context_;
};

} // namespace tarnwick::gui
