#include "TPrompterOnGuiThread.h"

#include <exception>
#include <functional>

#include <QObject>
#include <QThread>

namespace tarnwick::gui {

namespace {

void RunOn(QObject& context, const std::function<void()>& work)
{
    if (QThread::currentThread() == context.thread()) {
        work();
        return;
    }
    // No exception may cross the event loop: it is carried over and thrown here.
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        &context,
        [&] {
            try {
                work();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error)
        std::rethrow_exception(error);
}

} // namespace

TPrompterOnGuiThread::TPrompterOnGuiThread(core::TPrompter& prompter, QObject& context)
    : Prompter_(prompter)
    , Context_(context)
{}

void TPrompterOnGuiThread::Inform(core::TMessageKind kind, const std::string& text)
{
    RunOn(Context_, [&] { Prompter_.Inform(kind, text); });
}

core::TAnswer TPrompterOnGuiThread::Ask(core::TMessageKind kind, const std::string& text,
                                        const std::vector<core::TAnswer>& buttons)
{
    core::TAnswer answer = core::TAnswer::Cancel;
    RunOn(Context_, [&] { answer = Prompter_.Ask(kind, text, buttons); });
    return answer;
}

} // namespace tarnwick::gui
