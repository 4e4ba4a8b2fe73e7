#pragma once

#include <string>
#include <vector>

namespace tarnwick::core {

// The icon of a message box.
enum class TMessageKind
{
    Information,
    Confirmation,
    Warning,
    Error,
};

// The buttons of a message box and the answer given; only Yes (and Yes to All) count as consent.
enum class TAnswer
{
    Ok,
    Cancel,
    Yes,
    No,
    YesToAll,
    NoToAll,
    Abort,
    Retry,
    Ignore,
};

// How the libraries show a message or ask a question in the middle of their work. The program
// answers with a message box, the command line on its terminal, tests from a script.
class TPrompter
{
public:
    virtual ~TPrompter() = default;
    virtual void Inform(TMessageKind kind, const std::string& text) = 0;
    virtual TAnswer Ask(TMessageKind kind, const std::string& text, const std::vector<TAnswer>& buttons) = 0;
};

} // namespace tarnwick::core
