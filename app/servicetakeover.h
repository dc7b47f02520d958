#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class MessageSink;

// Taking the hands-free channel over from the system's audio-gateway
// service: ask the service control tool for the service's state and, unless
// it reports the service stopped, disable and stop it in an elevated shell.
// The system calls are seams so that the decision can be tested anywhere.
struct ServiceControl
{
    // True when the service control manager says there is no such service
    // at all (an edition of Windows without it): nothing to take over.
    // Empty: the service is taken to exist.
    std::function<bool(const QString &)> serviceIsMissing;
    // Runs a program and returns its standard output; nothing when it could
    // not be run to its end.
    std::function<std::optional<QByteArray>(const QString &, const QStringList &)> runProcess;
    // Launches (verb, file, parameters) elevated; false when that failed or
    // the user declined.
    std::function<bool(const QString &, const QString &, const QString &)> launchElevated;

    // The system's own: on a system without service control all are empty.
    static ServiceControl system();
};

bool isBTAGServiceActive(const ServiceControl &control);
void stopBTAGService(const ServiceControl &control, MessageSink &messages);
