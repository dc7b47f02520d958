#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform::os {

// Whether this system has services that hold the hands-free channel (the
// Windows service control manager). Linux has none: the desktop's audio
// system is left alone instead.
bool hasServiceControl();

// True only when the service control manager says that no service of this
// name exists; any other answer, or none, is false.
bool serviceIsMissing(const QString &name);

// Runs a program, waits for it with no time limit and returns its standard
// output; nothing when it could not be run to its end.
std::optional<QByteArray> runAndCollect(const QString &program, const QStringList &arguments);

// Launches a program elevated (ShellExecuteExW with the "runas" verb) and
// reports whether the launch succeeded. Declining the prompt is a failure.
// Always fails where there is no such launch.
bool launchElevated(const QString &verb, const QString &file, const QString &parameters);

} // namespace platform::os
