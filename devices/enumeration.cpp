#include "enumeration.h"

#include "../platform/bluetooth.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonObject>

const char kHandsFreeServiceId[] = "{0000111e-0000-1000-8000-00805f9b34fb}";

using platform::PlatformError;

QJsonArray enumeratePairedDevices(platform::Bluetooth &bluetooth,
                                  const std::function<void(const QString &)> &notify)
{
    QJsonArray result;
    QVector<platform::DeviceInfo> devices;
    try {
        devices = bluetooth.pairedDevices();
    } catch (const PlatformError &e) {
        // No radio, or none switched on: the notice says so, as when a
        // device's look-up finds the radio off.
        if (e.code() == platform::kDeviceNotAvailable) {
            notify(QCoreApplication::translate("RFCManager", "蓝牙设备未开启"));
            return result;
        }
        // The query itself failed: there is nothing to list in this pass.
        qCritical() << "hresult: " << e.code() << "\n";
        qCritical() << "message: " << e.message() << "\n";
        return result;
    }

    const QString heldBy = bluetooth.handsFreeHeldElsewhere();
    for (const platform::DeviceInfo &info : qAsConst(devices)) {
        QJsonObject record{{"Name", info.name}, {"Id", info.id}, {"Status", false}};
        if (!heldBy.isEmpty())
            record.insert("HandsFreeHeld", heldBy); // no link of ours while another program has the role
        if (info.batteryLevel >= 0)
            record.insert("Battery", info.batteryLevel); // the level the system already knows
        try {
            record.insert("Status", bluetooth.isConnected(info.id));
            const QVector<platform::RfcommService> services = bluetooth.rfcommServices(info.id);
            QJsonArray serviceRecords;
            // Filling a copy of a record that already has the three keys
            // is much cheaper than building each record key by key.
            static const QJsonObject blank{{"ServiceId", QString()},
                                           {"ConnectionServiceName", QString()},
                                           {"ConnectionHostName", QString()}};
            for (const platform::RfcommService &s : services) {
                QJsonObject service = blank;
                service["ServiceId"] = platform::uuidText(s.serviceId);
                service["ConnectionServiceName"] = s.connectionServiceName;
                service["ConnectionHostName"] = s.connectionHostName;
                serviceRecords.append(service);
            }
            record.insert("Services", serviceRecords);
        } catch (const PlatformError &e) {
            if (e.code() == platform::kDeviceNotAvailable) {
                notify(QCoreApplication::translate("RFCManager", "蓝牙设备未开启"));
                return result;
            }
            qCritical() << "hresult: " << e.code() << "\n";
            qCritical() << "message: " << e.message() << "\n";
        }
        notify(QString());
        result.append(record);
    }
    return result;
}
