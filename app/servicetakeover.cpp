#include "servicetakeover.h"
#include "messagesink.h"

#include "../platform/shellexecute.h"

#include <QObject>

ServiceControl ServiceControl::system()
{
    if (!platform::hasAudioGatewayService())
        return {};
    return {platform::runAndCollect, platform::launchElevated};
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
        return; // no audio-gateway service on this system
    if (!isBTAGServiceActive(control))
        return;
    const bool launched = control.launchElevated(
        QStringLiteral("runas"), QStringLiteral("cmd.exe"),
        QStringLiteral("/c sc config BTAGService start= disabled && sc stop BTAGService"));
    if (!launched)
        messages.information(QObject::tr("警告"),
                             QObject::tr("windows服务BTAGService关闭失败，请尝试在运行窗口中输入services.msc进入并手动关闭"));
}
