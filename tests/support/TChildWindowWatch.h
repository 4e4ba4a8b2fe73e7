#pragma once

#include <functional>
#include <utility>

#include <QChildEvent>
#include <QEvent>
#include <QObject>

namespace tarnwick::test {

// Calls `shown` with each child window of type T that `parent` gets, when the child is polished on
// its way to the screen: the way into a window that a command creates, shows and closes again
// inside one call (a deletion window, a dialog of its own).
template <class T> class TChildWindowWatch : public QObject
{
public:
    TChildWindowWatch(QObject& parent, std::function<void(T&)> shown)
        : Shown_(std::move(shown))
    {
        parent.installEventFilter(this);
    }

    int Seen = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::ChildPolished)
            if (auto* child = qobject_cast<T*>(static_cast<QChildEvent*>(event)->child())) {
                ++Seen;
                Shown_(*child);
            }
        return false;
    }

private:
    std::function<void(T&)> Shown_;
};

} // namespace tarnwick::test
