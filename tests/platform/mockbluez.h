#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <memory>
#include <unistd.h>

// A private system bus with a mocked BlueZ (python3-dbusmock's bluez5
// template, extended with the profile interface by bluezprofiles.py beside
// this file). Create it before anything in the process touches the system
// bus: it points DBUS_SYSTEM_BUS_ADDRESS at the private bus.
class MockBluez
{
public:
    MockBluez()
    {
        // As on a desktop, the bus could start bluetoothd on a call to
        // org.bluez; here such a start only leaves a mark (activations()).
        QDir(m_services.path()).mkpath("dbus-1/services");
        QFile service(m_services.filePath("dbus-1/services/org.bluez.service"));
        if (service.open(QIODevice::WriteOnly))
            service.write("[D-BUS Service]\nName=org.bluez\nExec=/bin/sh -c 'echo started >> " +
                          m_services.filePath("activations").toUtf8() + "; exit 1'\n");
        service.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", m_services.path());
        m_bus.setProcessEnvironment(env);
        m_bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!m_bus.waitForStarted() || !m_bus.waitForReadyRead(5000))
            return;
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_address.toUtf8());
    }

    ~MockBluez()
    {
        stopBluez();
        m_bus.kill();
        m_bus.waitForFinished();
    }

    bool busRunning() const { return !m_address.isEmpty(); }
    // How often the bus was asked to start a BlueZ that was not running.
    int activations() const
    {
        QFile marks(m_services.filePath("activations"));
        return marks.open(QIODevice::ReadOnly) ? marks.readAll().count('\n') : 0;
    }
    const QString &address() const { return m_address; }

    bool startBluez()
    {
        m_mock = std::make_unique<QProcess>();
        m_mock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // It logs every call: unread, the pipe would fill and stall it.
        m_mock->setStandardOutputFile(qEnvironmentVariableIsSet("KESTROLUNE_MOCK_LOG") ? qEnvironmentVariable("KESTROLUNE_MOCK_LOG") : QProcess::nullDevice());
        // Debian's Python modules belong to /usr/bin/python3.
        m_mock->start("/usr/bin/python3", {"-m", "dbusmock", "--template", QFileInfo(__FILE__).absolutePath() + "/bluezprofiles.py"});
        if (!m_mock->waitForStarted())
            return false;
        for (int i = 0; i < 100; ++i) {
            if (bus().interface()->isServiceRegistered("org.bluez"))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    void stopBluez()
    {
        if (!m_mock)
            return;
        m_mock->terminate();
        m_mock->waitForFinished(3000);
        m_mock.reset();
        for (int i = 0; i < 100 && bus().interface()->isServiceRegistered("org.bluez"); ++i)
            QTest::qWait(20);
    }

    static QDBusConnection bus() { return QDBusConnection::systemBus(); }

    // org.bluez.Mock methods of the template.
    QDBusMessage mock(const QString &method, const QVariantList &args)
    {
        QDBusMessage call = QDBusMessage::createMethodCall("org.bluez", "/", "org.bluez.Mock", method);
        call.setArguments(args);
        return bus().call(call);
    }

    void addAdapter(const QString &name) { mock("AddAdapter", {name, "kestrolune-test"}); }
    QString addDevice(const QString &adapter, const QString &address, const QString &alias, bool paired)
    {
        mock("AddDevice", {adapter, address, alias});
        if (paired)
            mock("PairDevice", {adapter, address, quint32(0x240404)});
        return "/org/bluez/" + adapter + "/dev_" + QString(address).replace(':', '_').toUpper();
    }
    void connectDevice(const QString &adapter, const QString &address, bool on)
    {
        mock(on ? "ConnectDevice" : "DisconnectDevice", {adapter, address});
    }

    // The simulated headset's end of the device's next profile connection
    // (the caller owns it), or -1 when BlueZ has handed none over in time.
    int takeHeadsetEnd(const QString &devicePath, int timeoutMs = 0)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const QDBusMessage reply = mock("TakeHeadsetEnd", {devicePath});
            if (reply.type() == QDBusMessage::ReplyMessage)
                return ::dup(reply.arguments().value(0).value<QDBusUnixFileDescriptor>().fileDescriptor());
            if (deadline.hasExpired())
                return -1;
            QTest::qWait(50);
        }
    }

    // Properties of the mocked objects are writable.
    void setProperty(const QString &path, const QString &interface, const QString &name, const QVariant &value)
    {
        QDBusMessage call = QDBusMessage::createMethodCall("org.bluez", path, "org.freedesktop.DBus.Properties", "Set");
        call << interface << name << QVariant::fromValue(QDBusVariant(value));
        const QDBusMessage reply = bus().call(call);
        if (reply.type() == QDBusMessage::ErrorMessage)
            qWarning() << "SetProperty failed:" << reply.errorMessage();
    }

private:
    QTemporaryDir m_services; // before the bus, which reads it
    QProcess m_bus;
    std::unique_ptr<QProcess> m_mock;
    QString m_address;
};
