#include "singleinstance.h"

#include "../platform/os/paths.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace {

QString baseName(const QString &directory, const QString &key)
{
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QDir(directory).filePath(QStringLiteral("kestrolune-") + QString::fromLatin1(hash));
}

} // namespace

SingleInstance::SingleInstance(const QString &directory, const QString &key, QObject *parent)
    : QObject(parent),
      m_lockPath(baseName(directory, key) + QStringLiteral(".lock")),
      m_socketPath(baseName(directory, key) + QStringLiteral(".socket")),
      m_lock(m_lockPath)
{
    m_lock.setStaleLockTime(0); // stale only when its process is gone, never by age
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close(); // removes the socket file
}

QString SingleInstance::runtimeDirectory()
{
    return platform::os::runtimeDirectory();
}

bool SingleInstance::claim()
{
    // A start that races with another one's start waits briefly for its
    // socket instead of running beside it.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (m_lock.tryLock(0))
            return listen();
        if (m_lock.error() != QLockFile::LockFailedError) {
            // No runtime directory to lock in: run, as before there was a lock.
            qWarning() << "SingleInstance: cannot use" << m_lockPath;
            return true;
        }
        if (askTheRunningOne())
            return false;
        QThread::msleep(100);
    }
    if (platform::os::takeOverSilentLock(m_lock)) {
        qWarning() << "SingleInstance: took over" << m_lockPath << "from a program that is gone";
        return listen();
    }
    qWarning() << "SingleInstance: another Kestrolune holds" << m_lockPath << "but does not answer";
    return false;
}

bool SingleInstance::listen()
{
    QLocalServer::removeServer(m_socketPath); // left by a crashed run
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath))
        qWarning() << "SingleInstance: cannot listen on" << m_socketPath << m_server->errorString();
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromServer();
            emit activationRequested();
        }
    });
    return true;
}

bool SingleInstance::askTheRunningOne() const
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write("show\n");
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
    return true;
}
