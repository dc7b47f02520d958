#pragma once

#include <QJsonObject>
#include <QString>

class MessageSink;

// The configuration file: the profile map (device Id -> {"tray", "listen"})
// as JSON in the home directory. Failures show an information box and never
// stop the program.
class ConfigStore
{
public:
    explicit ConfigStore(MessageSink &messages, QString path = defaultPath());

    // "<home>/kestrolune.json".
    static QString defaultPath();

    // Reads the map, creating the file as "{}" when it is missing. *opened
    // tells whether the file could be opened (or created); the map is empty
    // when it could not, or when the content is not a JSON object.
    QJsonObject load(bool *opened = nullptr) const;

    // Replaces the file's content with the map in indented form. The file is
    // replaced atomically: a failed or interrupted save keeps the old content.
    bool save(const QJsonObject &map) const;

    const QString &path() const { return m_path; }

    // Files larger than this are not read (a profile map is a few kilobytes).
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

private:
    MessageSink &m_messages;
    QString m_path;
};
