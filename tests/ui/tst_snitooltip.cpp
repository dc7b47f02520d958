// The device tray icon on a desktop whose notification area is a D-Bus
// StatusNotifierItem host: a private session bus with a watcher (see
// sniwatcher.py) comes up before Qt touches any bus, and the icon's tool tip
// is read back over D-Bus as a host reads it.
#include "support/privatesessionbus.h"
#include "ui/mysystemtrayicon.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

class TestSniToolTip : public QObject
{
    Q_OBJECT

private slots:
    void titleIsThePlainName();
};

namespace {

constexpr int kSlowHostS = 4;

// The title of a StatusNotifierItem's ToolTip property, (sa(iiay)ss). The
// item lives in this process, so the call is asynchronous and the event loop
// runs meanwhile to answer it.
QString toolTipTitle(const QString &service)
{
    QDBusMessage get = QDBusMessage::createMethodCall(service, "/StatusNotifierItem",
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ToolTip");
    QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(get);
    for (int i = 0; i < 250 && !pending.isFinished(); ++i)
        QTest::qWait(20);
    const QDBusMessage reply = pending.reply();
    if (reply.type() != QDBusMessage::ReplyMessage)
        return QStringLiteral("<no reply: %1>").arg(reply.errorMessage());
    const QDBusArgument arg = reply.arguments().value(0).value<QDBusVariant>().variant().value<QDBusArgument>();
    QString icon, title, subTitle;
    arg.beginStructure();
    arg >> icon;
    arg.beginArray();
    while (!arg.atEnd()) {
        int width = 0, height = 0;
        QByteArray pixels;
        arg.beginStructure();
        arg >> width >> height >> pixels;
        arg.endStructure();
    }
    arg.endArray();
    arg >> title >> subTitle;
    arg.endStructure();
    return title;
}

QStringList registeredItems()
{
    QDBusInterface watcher("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                           "org.kde.StatusNotifierWatcher", QDBusConnection::sessionBus());
    return watcher.property("RegisteredStatusNotifierItems").toStringList();
}

} // namespace

// The watcher answers our question about its host only after kSlowHostS:
// the icon never waits for it, and its tool tip follows the answer.
void TestSniToolTip::titleIsThePlainName()
{
    const QString name = QStringLiteral("<b>Bold</b><font color=red size=7>Red</font><img src=\"qml/resource/battery/battery-5.png\">");
    MYSystemTrayIcon icon(name);
    icon.show();
    QElapsedTimer took;
    took.start();
    icon.updateBatteryValue(40);
    QVERIFY2(took.elapsed() < kSlowHostS * 1000 / 2, qPrintable(QString::number(took.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(registeredItems().size(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(MYSystemTrayIcon::plainToolTips(), kSlowHostS * 3000);
    QTRY_COMPARE(toolTipTitle(registeredItems().first()), name + QStringLiteral("电量: 40"));
}

// Starts a private session bus and the watcher, then the tests.
int main(int argc, char **argv)
{
    PrivateSessionBus bus;
    if (!bus.isRunning()) {
        std::fprintf(stderr, "cannot start a session bus\n");
        return 1;
    }
    const std::string script = std::string(std::getenv("KESTROLUNE_SOURCE_DIR") ? std::getenv("KESTROLUNE_SOURCE_DIR") : ".")
                               + "/tests/ui/sniwatcher.py";
    FILE *watcher = popen(("exec /usr/bin/python3 " + script + " --slow " + std::to_string(kSlowHostS)).c_str(), "r");
    char ready[16] = {0};
    if (!watcher || !fgets(ready, sizeof ready, watcher)) {
        std::fprintf(stderr, "the StatusNotifierWatcher did not start\n");
        return 1;
    }

    int result = 0;
    {
        QApplication app(argc, argv);
        TestSniToolTip test;
        result = QTest::qExec(&test, argc, argv);
    }
    bus.stop(); // the watcher ends with its bus
    pclose(watcher);
    return result;
}

#include "tst_snitooltip.moc"
