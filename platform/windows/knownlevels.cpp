#include "knownlevels.h"
#include "bluetoothaddress.h"
#include "win32bluetooth.h"

#include <QStringList>

namespace platform::windows {

const QString KnownLevels::kGatewayService = QStringLiteral("BTAGService");

bool KnownLevels::handsFreeNodeAddress(const QString &instanceId, quint64 &address)
{
    const QStringList parts = instanceId.split(QLatin1Char('\\'));
    if (parts.size() != 3 || parts[0].compare(QLatin1String("BTHENUM"), Qt::CaseInsensitive) != 0)
        return false;
    if (!parts[1].startsWith(QLatin1String("{0000111e-0000-1000-8000-00805f9b34fb}"), Qt::CaseInsensitive))
        return false;
    QString field = parts[2];
    const int underscore = field.lastIndexOf(QLatin1Char('_'));
    if (underscore >= 0)
        field.truncate(underscore);
    field = field.mid(field.lastIndexOf(QLatin1Char('&')) + 1);
    return parseHostName(field, address);
}

QHash<quint64, int> KnownLevels::read(Win32Bluetooth &system)
{
    QHash<quint64, int> levels;
    if (!system.serviceRunning(kGatewayService))
        return levels;
    for (const Win32Bluetooth::DeviceNode &node : system.deviceNodes()) {
        quint64 address = 0;
        if (node.batteryLevel >= 0 && node.batteryLevel <= 100 && handsFreeNodeAddress(node.instanceId, address))
            levels.insert(address, node.batteryLevel);
    }
    return levels;
}

} // namespace platform::windows
