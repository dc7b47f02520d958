#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

// One running program per user and home directory (two would open links to
// the same headsets and each click would wipe the other's choices from the
// configuration file). The first start holds a lock file in the user's
// runtime directory and listens on a local socket beside it; a later start
// finds the lock held, asks the running program over the socket to bring its
// window to the front, and ends. A lock left by a run that crashed is taken
// over: QLockFile sees that its process is gone.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // directory: where the lock and the socket live; key: what makes two
    // starts the same program (the configuration file's path).
    SingleInstance(const QString &directory, const QString &key, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this is now the only program. False when another one runs;
    // it has been asked to show its window.
    bool claim();

    // The user's runtime directory ($XDG_RUNTIME_DIR on Linux, the user's
    // temporary folder on Windows).
    static QString runtimeDirectory();

signals:
    // A later start asked for the window.
    void activationRequested();

private:
    bool listen();
    bool askTheRunningOne() const;

    const QString m_lockPath;
    const QString m_socketPath;
    QLockFile m_lock;
    QLocalServer *m_server = nullptr; // child of this object
};
