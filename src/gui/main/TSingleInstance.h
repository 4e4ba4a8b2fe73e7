#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace tarnwick::gui {

// Keeps one running instance per user and executable name. The first start listens on a local
// socket; a later start connects, sends "raise" and ends. A socket left behind by an instance that
// crashed answers no connection and is removed, so it never blocks a new start.
class TSingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit TSingleInstance(QObject* parent = nullptr);
    ~TSingleInstance() override;

    // The socket path for the running user and executable: $XDG_RUNTIME_DIR/<name> when that is
    // set, else the temporary folder with the user id in the name.
    static QString ServerName(const QString& executableName);

    // True when this process is now the running instance; false when another one runs and was
    // asked to come to the front (this process should end with status 0).
    bool Claim(const QString& serverName);

signals:
    void RaiseRequested();

private:
    void Accept();

    QLocalServer* Server_ = nullptr;
};

} // namespace tarnwick::gui
