#pragma once

#include <functional>

#include <gtest/gtest.h>

#include <QApplication>
#include <QObject>
#include <QString>
#include <QTimer>

namespace tarnwick::test {

// The child of `parent` of type T with this objectName; a test failure (and nullptr) when there is
// none.
template <class T> T* Child(QObject& parent, const char* name)
{
    auto* child = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << "no child " << name;
    return child;
}

// Runs `act` on the first modal window of type T that opens, once it runs its own event loop (a
// password prompt, the trash notice, a dialog a command shows with exec).
template <class T> void WhenModal(std::function<void(T&)> act)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(*dialog);
        }
    });
    timer->start();
}

} // namespace tarnwick::test
