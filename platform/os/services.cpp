#include "services.h"

#include <QProcess>

namespace platform::os {

std::optional<QByteArray> runAndCollect(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForFinished(-1))
        return std::nullopt;
    return process.readAllStandardOutput();
}

} // namespace platform::os
