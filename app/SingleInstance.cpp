#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

namespace {
const QByteArray RaiseRequest = "raise\n";
constexpr int ConnectTimeoutMs = 1000;
} // namespace

QString SingleInstance::defaultKey() {
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME");
    const QByteArray hash =
        QCryptographicHash::hash(user.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QStringLiteral("zbpu-") + QString::fromLatin1(hash);
}

SingleInstance::SingleInstance(const QString& key, QObject* parent)
    : QObject(parent)
    , key_(key)
    , lock_(QDir(QDir::tempPath()).filePath(key + QStringLiteral(".lock"))) {
    // A lock whose owner still runs is never stale, however old it is.
    lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
    if (server_)
        server_->close();
}

bool SingleInstance::tryLock() {
    if (server_)
        return true;
    if (!lock_.tryLock(0))
        return false;
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a server of that name is left over from a crashed run.
    if (!server_->listen(key_)) {
        QLocalServer::removeServer(key_);
        server_->listen(key_);
    }
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::readRequest);
    return true;
}

bool SingleInstance::raiseRunning() {
    QLocalSocket socket;
    socket.connectToServer(key_);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return false;
    socket.write(RaiseRequest);
    const bool sent = socket.waitForBytesWritten(ConnectTimeoutMs);
    socket.disconnectFromServer();
    return sent;
}

void SingleInstance::readRequest() {
    while (QLocalSocket* peer = server_->nextPendingConnection()) {
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        auto handle = [this, peer] {
            if (!peer->canReadLine())
                return;
            const QByteArray line = peer->readLine();
            if (line == RaiseRequest) {
                emit raiseRequested();
                if (onRaise)
                    onRaise();
            }
        };
        connect(peer, &QLocalSocket::readyRead, this, handle);
        handle();
    }
}

void SingleInstance::bringToFront(QWidget* window) {
    if (!window)
        return;
    window->show();
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
    window->activateWindow();
}
