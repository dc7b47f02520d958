#include "servicetakeover.h"
#include "messagesink.h"

#include "../platform/os/services.h"

#include <QObject>

ServiceControl ServiceControl::system()
{
    if (!platform::os::hasServiceControl())
        return {};
    return {platform::os::serviceIsMissing, platform::os::runAndCollect, platform::os::launchElevated};
}

bool isBTAGServiceActive(const ServiceControl &control)
{
    const std::optional<QByteArray> output =
        control.runProcess(QStringLiteral("sc"), {QStringLiteral("query"), QStringLiteral("BTAGService")});
    if (!output)
        return true;
    return !QString::fromUtf8(*output).contains(QLatin1String("STOPPED"), Qt::CaseSensitive);
}

void stopBTAGService(const ServiceControl &control, MessageSink &messages)
{
    if (!control.runProcess || !control.launchElevated)
        return; // no service control on this system
    // "sc query" cannot tell a missing service from a failed query (Wine's
    // prints nothing at all), and a missing service is no reason to ask for
    // elevation at every start.
    if (control.serviceIsMissing && control.serviceIsMissing(QStringLiteral("BTAGService")))
        return;
    if (!isBTAGServiceActive(control))
        return;
    const bool launched = control.launchElevated(
        QStringLiteral("runas"), QStringLiteral("cmd.exe"),
        QStringLiteral("/c sc config BTAGService start= disabled && sc stop BTAGService"));
    if (!launched)
        messages.information(QObject::tr("警告"),
                             QObject::tr("windows服务BTAGService关闭失败，请尝试在运行窗口中输入services.msc进入并手动关闭"));
}
