#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

// Whether this system has the audio-gateway service that holds the
// hands-free channel (Windows' BTAGService). Other systems have none.
bool hasAudioGatewayService();

// Runs a program, waits for it with no time limit and returns its standard
// output; nothing when it could not be run to its end.
std::optional<QByteArray> runAndCollect(const QString &program, const QStringList &arguments);

// Launches a program elevated (ShellExecuteExW with the "runas" verb) and
// reports whether the launch succeeded. Declining the prompt is a failure.
// Always fails where there is no such launch.
bool launchElevated(const QString &verb, const QString &file, const QString &parameters);

} // namespace platform
