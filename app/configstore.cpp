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

QJsonObject ConfigStore::load(bool *opened, QString *unreadable) const
{
    if (opened)
        *opened = false;
    QString why;
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
        if (file.size() <= kMaxFileSize) {
            content = file.readAll();
        } else {
            qWarning() << "Config file too large, ignored:" << file.size() << "bytes";
            why = QStringLiteral("it is larger than %1 MB").arg(kMaxFileSize / (1024 * 1024));
        }
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
    // An empty file holds no choices: nothing to keep.
    const bool blank = content.trimmed().isEmpty();
    if (why.isEmpty() && !blank && error.error != QJsonParseError::NoError)
        why = QStringLiteral("%1 at byte %2").arg(error.errorString()).arg(error.offset);
    else if (why.isEmpty() && !blank && !document.isObject())
        why = QStringLiteral("it holds no JSON object");
    if (unreadable)
        *unreadable = why;
    if (!why.isEmpty())
        return {};
    return document.object();
}

QString ConfigStore::keepUnreadable() const
{
    for (int n = 1; n < 1000; ++n) {
        const QString kept = m_path + QStringLiteral(".unreadable") + (n == 1 ? QString() : QStringLiteral("-%1").arg(n));
        if (QFileInfo::exists(kept) || QFileInfo(kept).isSymLink())
            continue;
        // QFile::copy never replaces an existing file; a link is copied as
        // the file it points to.
        if (QFile::copy(m_path, kept))
            return kept;
        return QString();
    }
    return QString();
}

bool ConfigStore::save(const QJsonObject &map) const
{
    const QByteArray bytes = QJsonDocument(map).toJson();
    // Written to a temporary file beside the old one and renamed over it, so
    // the old content stays whole until the new one is complete.
    const QFileInfo existing(m_path);
    QSaveFile file(m_path);
    // Where no temporary file may be made (a read-only home), the file is
    // written in place; every byte is still checked.
    file.setDirectWriteFallback(true);
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
