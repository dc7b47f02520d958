#include "configstore.h"
#include "messagesink.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

ConfigStore::ConfigStore(MessageSink &messages, QString path)
    : m_messages(messages), m_path(std::move(path))
{
}

QString ConfigStore::defaultPath()
{
    return QDir::homePath() + QDir::separator() + QStringLiteral("kestrolune.json");
}

QJsonObject ConfigStore::load(bool *opened) const
{
    if (opened)
        *opened = false;
    QByteArray content;
    QFile file(m_path);
    if (QFileInfo::exists(m_path)) {
        // Opened for reading and writing, as a save would need it: a file the
        // program could not save to is reported at start.
        if (!file.open(QIODevice::ReadWrite)) {
            m_messages.information(QStringLiteral("read Config failed"),
                                   QStringLiteral("read data failed,Please check permissions"));
            return {};
        }
        if (file.size() <= kMaxFileSize)
            content = file.readAll();
        else
            qWarning() << "Config file too large, ignored:" << file.size() << "bytes";
        file.close();
    } else {
        if (!file.open(QIODevice::ReadWrite)) {
            m_messages.information(QStringLiteral("create Config failed"),
                                   QStringLiteral("create data failed,Please check permissions"));
            qDebug() << file.errorString();
            qDebug() << file.error();
            return {};
        }
        file.write("{}");
        file.waitForBytesWritten(500);
        file.close();
        content = "{}";
    }
    if (opened)
        *opened = true;

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(content, &error);
    if (error.error != QJsonParseError::NoError)
        return {};
    return document.object();
}

bool ConfigStore::save(const QJsonObject &map) const
{
    const QByteArray bytes = QJsonDocument(map).toJson();
    // Written to a temporary file beside the old one and renamed over it, so
    // the old content stays whole until the new one is complete.
    const QFileInfo existing(m_path);
    QSaveFile file(m_path);
    if ((existing.exists() && !existing.isWritable()) || !file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_messages.information(QStringLiteral("Save config failed"),
                               QStringLiteral("Save data failed,Please check permissions and contact sales"));
        return false;
    }
    // Unbuffered, so that a short write (a full disk) shows here instead of
    // being taken for success when the buffer is flushed.
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        file.cancelWriting();
        m_messages.information(QStringLiteral("Save config failed"),
                               QStringLiteral("Save data failed,Please check permissions and contact sales"));
        return false;
    }
    return true;
}
