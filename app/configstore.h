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
    // when it could not, or when the content is not a JSON object. Then
    // *unreadable says why the content could not be read (too large, not
    // JSON, not an object); it is empty for a file that was read.
    QJsonObject load(bool *opened = nullptr, QString *unreadable = nullptr) const;

    // Copies the file as it is to a new name beside it, "<path>.unreadable"
    // or, when that is taken, "<path>.unreadable-2" and so on: an older copy
    // is never overwritten. Returns the copy's path; empty when no copy
    // could be made.
    QString keepUnreadable() const;

    // Replaces the file's content with the map in indented form. The file is
    // replaced atomically (a failed or interrupted save keeps the old
    // content) where a new file can be made beside it; in a directory that
    // allows none (a read-only home), a writable file is written in place.
    bool save(const QJsonObject &map) const;

    const QString &path() const { return m_path; }

    // Files larger than this are not read (a profile map is a few kilobytes).
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

private:
    MessageSink &m_messages;
    QString m_path;
};
