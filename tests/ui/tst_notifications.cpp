// Low-level warnings on a desktop whose notification server is
// python3-dbusmock's notification_daemon template on a private session bus,
// which comes up before Qt touches any bus; the Notify calls are read back
// from the mock.
#include "support/logcapture.h"
#include "support/privatesessionbus.h"
#include "ui/appmanager.h"
#include "ui/mysystemtrayicon.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>

class TestNotifications : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void marks_data();
    void marks();
    void aNotificationAsTheDesktopShowsIt();
    void noServerChangesNothingElse();
    void namedFromTheRecordAndWarnedOnTicking();

private:
    bool startServer(const QString &capabilities = {});
    void stopServer();
    // The arguments of every Notify call the server got, in order.
    QList<QVariantList> notifyCalls() const;
    // An AppManager with one device; its tray icons go with it.
    std::shared_ptr<AppManager> watching(const QString &id, const QString &name, bool tray);

    std::unique_ptr<QProcess> m_server;
    QTemporaryDir m_home;
};

namespace {
const QString kMockInterface = QStringLiteral("org.freedesktop.DBus.Mock");
const QString kService = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage mockCall(const QString &method)
{
    return QDBusMessage::createMethodCall(kService, "/org/freedesktop/Notifications", kMockInterface, method);
}
} // namespace

bool TestNotifications::startServer(const QString &capabilities)
{
    m_server = std::make_unique<QProcess>();
    m_server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server->setStandardOutputFile(QProcess::nullDevice());
    QStringList args{"-m", "dbusmock", "--template", "notification_daemon"};
    if (!capabilities.isEmpty())
        args << "--parameters" << QStringLiteral("{\"capabilities\": \"%1\"}").arg(capabilities);
    m_server->start("/usr/bin/python3", args); // Debian's Python has python3-dbusmock
    if (!m_server->waitForStarted())
        return false;
    for (int i = 0; i < 100; ++i) {
        if (QDBusConnection::sessionBus().interface()->isServiceRegistered(kService))
            return true;
        QTest::qWait(50);
    }
    return false;
}

void TestNotifications::stopServer()
{
    if (!m_server)
        return;
    m_server->terminate();
    m_server->waitForFinished(3000);
    m_server.reset();
    for (int i = 0; i < 100 && QDBusConnection::sessionBus().interface()->isServiceRegistered(kService); ++i)
        QTest::qWait(20);
}

QList<QVariantList> TestNotifications::notifyCalls() const
{
    const QDBusMessage reply = QDBusConnection::sessionBus().call(mockCall("GetCalls"));
    QList<QVariantList> calls;
    const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        quint64 time = 0;
        QString method;
        QVariantList args;
        list.beginStructure();
        list >> time >> method >> args;
        list.endStructure();
        if (method == "Notify")
            calls << args;
    }
    list.endArray();
    return calls;
}

std::shared_ptr<AppManager> TestNotifications::watching(const QString &id, const QString &name, bool tray)
{
    const std::shared_ptr<AppManager> app(new AppManager, [](AppManager *a) {
        a->clearTrayIcons();
        delete a;
    });
    app->setConfigPath(m_home.filePath("kestrolune.json"));
    app->updateDeviceProfile(id, "tray", tray);
    app->updateDeviceProfile(id, "listen", true);
    if (tray)
        app->registerDeviceToTrary(id, name);
    return app;
}

void TestNotifications::initTestCase()
{
    QVERIFY2(QFile::exists("qml/resource/battery/battery-15.png"), "run from the build directory");
    QVERIFY(startServer());
}

void TestNotifications::init()
{
    if (m_server)
        QDBusConnection::sessionBus().call(mockCall("ClearCalls"));
}

void TestNotifications::cleanupTestCase()
{
    stopServer();
}

void TestNotifications::marks_data()
{
    QTest::addColumn<bool>("tray");
    QTest::addColumn<QList<int>>("levels");
    // Each warning as "<level>:<urgency>" (1 normal, 2 critical).
    QTest::addColumn<QStringList>("warnings");
    QTest::newRow("falls through both marks") << true << QList<int>{50, 31, 21, 20, 19, 11, 10, 9, 0}
                                              << QStringList{"20:1", "10:2"};
    QTest::newRow("already low when first seen") << true << QList<int>{15, 14} << QStringList{"15:1"};
    QTest::newRow("already empty when first seen") << true << QList<int>{7, 5} << QStringList{"7:2"};
    QTest::newRow("a recharge above 30 % re-arms") << true << QList<int>{18, 31, 19, 9, 40, 8}
                                                   << QStringList{"18:1", "19:1", "9:2", "8:2"};
    QTest::newRow("30 % is no recharge") << true << QList<int>{18, 30, 19} << QStringList{"18:1"};
    QTest::newRow("a level that goes away changes nothing") << true << QList<int>{18, -1, 18, -1, 9}
                                                            << QStringList{"18:1", "9:2"};
    QTest::newRow("托盘 unticked") << false << QList<int>{18, 9} << QStringList{};
}

void TestNotifications::marks()
{
    QFETCH(bool, tray);
    QFETCH(QList<int>, levels);
    QFETCH(QStringList, warnings);
    auto app = watching("dev", "Buds", tray);
    for (int level : levels)
        app->updateDeviceBatteryValue("dev", level);
    auto shown = [this] {
        QStringList out;
        for (const QVariantList &args : notifyCalls()) {
            const QString level = args.value(4).toString().section(' ', 1).chopped(1);
            const int urgency = qdbus_cast<QVariantMap>(args.value(6)).value("urgency").toInt();
            out << level + ":" + QString::number(urgency);
        }
        return out;
    };
    QTRY_COMPARE(shown(), warnings);
    QTest::qWait(300); // and nothing more comes
    QCOMPARE(shown(), warnings);
}

void TestNotifications::aNotificationAsTheDesktopShowsIt()
{
    const QString name = QStringLiteral("<b>Loud</b> & Clear");
    auto app = watching("dev", name, true);
    app->updateDeviceBatteryValue("dev", 17);
    QTRY_COMPARE(notifyCalls().size(), 1);
    const QVariantList first = notifyCalls().at(0);
    QCOMPARE(first.value(0).toString(), QStringLiteral("Kestrolune"));
    QCOMPARE(first.value(1).toUInt(), 0u); // nothing to replace yet
    const QFileInfo icon(first.value(2).toString());
    QVERIFY2(icon.isAbsolute() && icon.fileName() == "battery-17.png" && icon.exists(), qPrintable(icon.filePath()));
    QCOMPARE(first.value(3).toString(), name); // plain text, even where the body may hold markup
    QCOMPARE(first.value(4).toString(), QStringLiteral("电量低: 17%"));
    // Grouped under the program's menu entry, with the user's settings for it.
    QCOMPARE(qdbus_cast<QVariantMap>(first.value(6)).value("desktop-entry").toString(), QStringLiteral("kestrolune"));

    // The second warning replaces the device's first on screen.
    app->updateDeviceBatteryValue("dev", 10);
    QTRY_COMPARE(notifyCalls().size(), 2);
    QVERIFY(notifyCalls().at(1).value(1).toUInt() != 0u);

    // So does a server that renders no markup at all.
    app.reset();
    stopServer();
    QVERIFY(startServer("body icon-static"));
    app = watching("dev", name, true);
    app->updateDeviceBatteryValue("dev", 12);
    QTRY_COMPARE(notifyCalls().size(), 1);
    QCOMPARE(notifyCalls().at(0).value(3).toString(), name);
}

void TestNotifications::noServerChangesNothingElse()
{
    stopServer();
    LogCapture log;
    auto app = watching("a", "Alpha", true);
    app->updateDeviceBatteryValue("a", 15);
    QTRY_COMPARE(log.count("no desktop notification server"), 1);
    app->updateDeviceBatteryValue("a", 5);
    app->registerDeviceToTrary("b", "Beta");
    app->updateDeviceProfile("b", "tray", true);
    app->updateDeviceBatteryValue("b", 3);
    QTest::qWait(300);
    QCOMPARE(log.count("no desktop notification server"), 1); // said once
    QCOMPARE(app->trayIcon("a")->toolTip(), MYSystemTrayIcon::toolTipFor("Alpha电量: 5", MYSystemTrayIcon::plainToolTips()));

    // A server that starts later is used for the next warning.
    QVERIFY(startServer());
    app->updateDeviceBatteryValue("b", 25);
    app->updateDeviceBatteryValue("b", 31);
    app->updateDeviceBatteryValue("b", 20);
    QTRY_COMPARE(notifyCalls().size(), 1);
    QCOMPARE(notifyCalls().at(0).value(3).toString(), QStringLiteral("Beta"));
}

// A device whose level the system knows: its warnings carry the name from
// its record, without a tray registration first, and ticking 托盘 while the
// level is low warns at once.
void TestNotifications::namedFromTheRecordAndWarnedOnTicking()
{
    const QString id = QStringLiteral("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01");
    auto app = watching(id, QString(), false);
    app->registerToIndex({{"Id", id}, {"Name", "B&O H95"}, {"Status", true}});
    app->updateDeviceBatteryValue(id, 15);
    QTest::qWait(200);
    QCOMPARE(notifyCalls().size(), 0); // 托盘 unticked
    app->updateDeviceProfile(id, "tray", true);
    QTRY_COMPARE(notifyCalls().size(), 1);
    QCOMPARE(notifyCalls().at(0).value(3).toString(), QStringLiteral("B&O H95"));
    QCOMPARE(notifyCalls().at(0).value(4).toString(), QStringLiteral("电量低: 15%"));
    app->updateDeviceBatteryValue(id, 9); // no tray icon yet: still the name
    QTRY_COMPARE(notifyCalls().size(), 2);
    QCOMPARE(notifyCalls().at(1).value(3).toString(), QStringLiteral("B&O H95"));
}

// Starts a private session bus, then the tests.
int main(int argc, char **argv)
{
    PrivateSessionBus bus;
    if (!bus.isRunning()) {
        std::fprintf(stderr, "cannot start a session bus\n");
        return 1;
    }
    QApplication app(argc, argv);
    TestNotifications test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notifications.moc"
