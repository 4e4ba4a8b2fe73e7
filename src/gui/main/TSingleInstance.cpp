#include "TSingleInstance.h"

#include <memory>

#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace tarnwick::gui {

namespace {

constexpr int ConnectTimeoutMs = 1000;
constexpr int MessageTimeoutMs = 2000;
const QByteArray RaiseMessage = QByteArrayLiteral("raise\n");

// True when a running instance took the message.
bool HandOver(const QString& serverName)
{
    QLocalSocket socket;
    socket.connectToServer(serverName);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return false;
    socket.write(RaiseMessage);
    if (!socket.waitForBytesWritten(MessageTimeoutMs))
        return false;
    // The running instance closes the connection once it has read the message.
    socket.waitForDisconnected(MessageTimeoutMs);
    return true;
}

} // namespace

TSingleInstance::TSingleInstance(QObject* parent)
    : QObject(parent)
{}

TSingleInstance::~TSingleInstance()
{
    if (Server_)
        Server_->close();
}

QString TSingleInstance::ServerName(const QString& executableName)
{
    const QString uid = QString::number(::getuid());
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return QDir(QString::fromLocal8Bit(runtime)).filePath(executableName + QStringLiteral(".instance"));
    return QDir(QDir::tempPath())
        .filePath(executableName + QStringLiteral("-") + uid + QStringLiteral(".instance"));
}

bool TSingleInstance::Claim(const QString& serverName)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (HandOver(serverName))
            return false;
        // Nobody answered: a socket file left by a crashed instance is removed before listening.
        QLocalServer::removeServer(serverName);
        auto server = std::make_unique<QLocalServer>(this);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        if (server->listen(serverName)) {
            Server_ = server.release();
            connect(Server_, &QLocalServer::newConnection, this, &TSingleInstance::Accept);
            return true;
        }
        // Another instance started between the hand-over and the listen: try it once more.
    }
    // Neither listening nor handing over worked: run without the guard rather than not at all.
    return true;
}

void TSingleInstance::Accept()
{
    while (QLocalSocket* socket = Server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto read = [this, socket] {
            if (!socket->canReadLine())
                return;
            const QByteArray line = socket->readLine(64);
            if (line == RaiseMessage)
                emit RaiseRequested();
            socket->disconnectFromServer();
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        // The message may have arrived before the connection was taken.
        read();
    }
}

} // namespace tarnwick::gui
