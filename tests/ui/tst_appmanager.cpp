#include "app/configstore.h"
#include "support/logcapture.h"
#include "support/recordingsink.h"
#include "ui/appmanager.h"
#include "ui/mysystemtrayicon.h"
#include "ui/traywatch.h"

#include <QApplication>
#include <QHelpEvent>
#include <QJsonDocument>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QTextDocument>
#include <QTemporaryDir>
#include <QtTest>

// AppManager and the device tray icons. Runs from the build directory,
// where ./qml/resource/battery/ holds the level pictures.
class TestAppManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void freshIconShowsLevelNotKnown();
    void levelSetsToolTipThenPicture();
    void picturesAreRelativeToTheCurrentDirectory();
    void iconConsumesItsEvents();
    void oneIconPerDevice();
    void unregisterThenRegisterGivesAFreshIcon();
    void levelWithoutIconChangesNothing();
    void profileSlotsSaveTheWholeMap();
    void markupInANameIsShownLiterally();
    void unreadableConfigIsKeptAndTheUserTold();
    void aDesktopWithoutANotificationAreaIsSaidOnce();

private:
    // Whether an icon shows the picture of a file; never true for a missing
    // file or an empty icon, which would compare equal as two null pictures.
    static bool shows(const QIcon &icon, const QString &path)
    {
        const QImage shown = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage expected = QImage(path).convertToFormat(QImage::Format_ARGB32);
        return !shown.isNull() && !expected.isNull() && shown == expected;
    }

    std::unique_ptr<QTemporaryDir> m_home;
    std::shared_ptr<RecordingSink> m_sink;
    std::unique_ptr<AppManager> m_app;
    QString m_startDir;
};

void TestAppManager::init()
{
    m_startDir = QDir::currentPath();
    QVERIFY2(QFile::exists("qml/resource/battery/battery-75.png"), "run from the build directory");
    m_home = std::make_unique<QTemporaryDir>();
    m_sink = std::make_shared<RecordingSink>();
    m_app = std::make_unique<AppManager>();
    m_app->setMessageSink(m_sink);
    m_app->setConfigPath(m_home->filePath("kestrolune.json"));
}

void TestAppManager::cleanup()
{
    m_app->clearTrayIcons();
    m_app.reset();
    QDir::setCurrent(m_startDir);
}

void TestAppManager::freshIconShowsLevelNotKnown()
{
    MYSystemTrayIcon icon("Buds");
    QVERIFY(shows(icon.icon(), "qml/resource/battery/battery-unknown.png"));
    QCOMPARE(icon.toolTip(), QString());
    QVERIFY(!icon.isVisible());
}

void TestAppManager::levelSetsToolTipThenPicture()
{
    MYSystemTrayIcon icon("Buds");
    for (int level : {5, 50, 100}) {
        icon.updateBatteryValue(level);
        QCOMPARE(icon.toolTip(), QStringLiteral("Buds电量: %1").arg(level));
        QVERIFY(shows(icon.icon(), QStringLiteral("qml/resource/battery/battery-%1.png").arg(level)));
    }
    // Outside 0 to 100 (the link's end sends -1): back to "not known".
    for (int notALevel : {-1, 101}) {
        icon.updateBatteryValue(notALevel);
        QCOMPARE(icon.toolTip(), QString());
        QVERIFY(shows(icon.icon(), "qml/resource/battery/battery-unknown.png"));
    }
    MYSystemTrayIcon nameless("");
    nameless.updateBatteryValue(7);
    QCOMPARE(nameless.toolTip(), QStringLiteral("电量: 7"));
}

void TestAppManager::picturesAreRelativeToTheCurrentDirectory()
{
    MYSystemTrayIcon icon("Buds");
    QVERIFY(QDir::setCurrent(m_home->path()));
    icon.updateBatteryValue(40);
    QVERIFY(icon.icon().pixmap(32, 32).isNull());
    QCOMPARE(icon.toolTip(), QStringLiteral("Buds电量: 40"));
}

void TestAppManager::iconConsumesItsEvents()
{
    LogCapture log;
    QPointer<MYSystemTrayIcon> icon = new MYSystemTrayIcon("Buds");
    icon->deleteLater();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(icon); // deferred deletion is consumed: owners delete icons directly
    QVERIFY(log.count("MYSystemTrayIcon event: ") >= 1);
    QVERIFY(log.lines().join(" ").contains("DeferredDelete"));
    delete icon.data();
}

void TestAppManager::oneIconPerDevice()
{
    m_app->registerDeviceToTrary("x", "First");
    MYSystemTrayIcon *icon = m_app->trayIcon("x");
    QVERIFY(icon);
    m_app->registerDeviceToTrary("x", "Second");
    QCOMPARE(m_app->trayIcon("x"), icon);
    m_app->updateDeviceBatteryValue("x", 30);
    QCOMPARE(icon->toolTip(), QStringLiteral("First电量: 30"));
    // A new link registers again: the icon keeps its picture and tool tip.
    m_app->registerDeviceToTrary("x", "First");
    QCOMPARE(m_app->trayIcon("x")->toolTip(), QStringLiteral("First电量: 30"));
}

void TestAppManager::unregisterThenRegisterGivesAFreshIcon()
{
    LogCapture log;
    m_app->registerDeviceToTrary("x", "Buds");
    QPointer<MYSystemTrayIcon> first = m_app->trayIcon("x");
    m_app->updateDeviceBatteryValue("x", 30);
    m_app->unregisterDeviceFromTray("x");
    QVERIFY(first.isNull());
    QVERIFY(!m_app->trayIcon("x"));
    m_app->unregisterDeviceFromTray("x"); // repeated at every cycle: only its log line
    QCOMPARE(log.count("unregisterDeviceFromTray: "), 2);
    // While the level is current (the link still runs), a new icon shows it at once.
    m_app->registerDeviceToTrary("x", "Buds");
    QCOMPARE(m_app->trayIcon("x")->toolTip(), QStringLiteral("Buds电量: 30"));
    QVERIFY(shows(m_app->trayIcon("x")->icon(), "qml/resource/battery/battery-30.png"));
    m_app->updateDeviceBatteryValue("x", -1); // the link ended
    m_app->unregisterDeviceFromTray("x");
    m_app->registerDeviceToTrary("x", "Buds");
    QCOMPARE(m_app->trayIcon("x")->toolTip(), QString());
    QVERIFY(shows(m_app->trayIcon("x")->icon(), "qml/resource/battery/battery-unknown.png"));
}

void TestAppManager::levelWithoutIconChangesNothing()
{
    m_app->registerDeviceToTrary("x", "Buds");
    m_app->updateDeviceBatteryValue("y", 10);
    QCOMPARE(m_app->trayIcon("x")->toolTip(), QString());
    QVERIFY(!m_app->trayIcon("y"));
}

void TestAppManager::profileSlotsSaveTheWholeMap()
{
    const QString path = m_home->filePath("kestrolune.json");
    auto onDisk = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    };
    m_app->updateDeviceProfiles(R"({"a":{"tray":true},"b":7})");
    QCOMPARE(onDisk(), QJsonDocument::fromJson(R"({"a":{"tray":true},"b":7})").object());
    m_app->updateDeviceProfile("b", "listen", true);
    m_app->updateDeviceProfile("a", "listen", false);
    const QJsonObject expected = QJsonDocument::fromJson(R"({"a":{"tray":true,"listen":false},"b":{"listen":true}})").object();
    QCOMPARE(m_app->profiles(), expected);
    QCOMPARE(onDisk(), expected);
    m_app->updateDeviceProfiles("{}");
    QCOMPARE(m_app->profiles(), QJsonObject());
    QCOMPARE(onDisk(), QJsonObject());
    m_app->updateDeviceProfiles("not json");
    QCOMPARE(onDisk(), QJsonObject());
    QVERIFY(m_sink->boxes.isEmpty());
    // A failed load leaves the cached map alone; a successful one replaces it.
    m_app->updateDeviceProfile("c", "tray", true);
    m_app->setConfigPath(m_home->filePath("missing/dir/kestrolune.json"));
    QCOMPARE(m_app->loadConfig(), QJsonObject());
    QCOMPARE(m_app->profiles().keys(), QStringList{"c"});
    QCOMPARE(m_sink->titles(), QStringList{"create Config failed"});
}

namespace {
const QString kMarkupName = QStringLiteral("<b>Bold</b><font color=red size=7>Red</font><img src=\"qml/resource/battery/battery-5.png\">");

// The text a tool tip label shows, as QLabel decides it.
QString shownText(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}
} // namespace

void TestAppManager::markupInANameIsShownLiterally()
{
    const QString plain = kMarkupName + QStringLiteral("电量: 40");
    QCOMPARE(MYSystemTrayIcon::toolTipFor(plain, true), plain); // a StatusNotifierItem title is plain
    QCOMPARE(shownText(MYSystemTrayIcon::toolTipFor(plain, false)), plain);
    QCOMPARE(MYSystemTrayIcon::toolTipFor("Buds电量: 40", false), QStringLiteral("Buds电量: 40"));

#ifdef Q_OS_WIN
    // Windows' tool tips are plain text: the name goes as it is.
    m_app->registerDeviceToTrary("x", kMarkupName);
    m_app->updateDeviceBatteryValue("x", 40);
    QCOMPARE(m_app->trayIcon("x")->toolTip(), plain);
#else
    // As a person sees it: the X11 notification area's own tool tip.
    QProcess tray;
    tray.start("trayer", {"--edge", "bottom", "--align", "right", "--widthtype", "request", "--height", "40"});
    if (!tray.waitForStarted(3000))
        QSKIP("needs trayer, a notification area");
    auto stopTray = qScopeGuard([&tray] { tray.kill(); tray.waitForFinished(); });
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 5000);
    m_app->registerDeviceToTrary("x", kMarkupName);
    m_app->updateDeviceBatteryValue("x", 40);
    QWidget *trayWidget = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((trayWidget = [] {
        for (QWidget *w : QApplication::allWidgets())
            if (QByteArray(w->metaObject()->className()) == "QSystemTrayIconSys")
                return w;
        return static_cast<QWidget *>(nullptr);
    }()), 5000);
    QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), trayWidget->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(trayWidget, &hover);
    QLabel *tip = nullptr;
    QTRY_VERIFY((tip = [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->inherits("QLabel") && w->isVisible())
                return qobject_cast<QLabel *>(w);
        return static_cast<QLabel *>(nullptr);
    }()));
    QCOMPARE(shownText(tip->text()), plain);
#endif
}

void TestAppManager::unreadableConfigIsKeptAndTheUserTold()
{
    const QString config = m_home->filePath("kestrolune.json");
    const QByteArray damaged = R"({"a":{"listen":true},})"; // one trailing comma
    auto write = [](const QString &path, const QByteArray &bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    auto read = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QVERIFY(write(config + ".unreadable", "an older copy"));
    QVERIFY(write(config, damaged));
    QCOMPARE(m_app->loadConfig(), QJsonObject());
    QVERIFY(m_sink->boxes.isEmpty());
    QCOMPARE(read(config), damaged); // untouched until the first save

    m_app->updateDeviceProfiles(R"({"b":{"tray":true}})");
    QCOMPARE(read(config + ".unreadable"), QByteArray("an older copy"));
    QCOMPARE(read(config + ".unreadable-2"), damaged);
    QCOMPARE(m_sink->titles(), QStringList{"Config file kept"});
    QVERIFY(m_sink->boxes.first().second.contains(QDir::toNativeSeparators(config + ".unreadable-2")));
    QCOMPARE(QJsonDocument::fromJson(read(config)).object(), QJsonObject({{"b", QJsonObject{{"tray", true}}}}));
    // Once kept, later saves are plain saves, and a file that parses is never copied.
    m_app->updateDeviceProfiles(R"({})");
    QCOMPARE(m_sink->boxes.size(), 1);
    QVERIFY(!QFile::exists(config + ".unreadable-3"));
    m_app->loadConfig();
    m_app->updateDeviceProfiles(R"({"c":{}})");
    QVERIFY(!QFile::exists(config + ".unreadable-3"));
}

// No notification area: said once, checked again every 30 s until one
// appears, which is said too; nothing more while it stays.
void TestAppManager::aDesktopWithoutANotificationAreaIsSaidOnce()
{
    LogCapture log;
    bool available = false;
    TrayWatch watch([&available] { return available; });
    watch.check();
    watch.check();
    QCOMPARE(log.count("this desktop has no notification area"), 1);
    QVERIFY(log.count("gnome-shell-extension-appindicator") == 1);
    QVERIFY(watch.retrying());
    available = true;
    watch.check();
    watch.check();
    QCOMPARE(log.count("a notification area is there now"), 1);
    QVERIFY(!watch.retrying());

    LogCapture quiet; // a desktop with one from the start says nothing
    TrayWatch present([] { return true; });
    present.check();
    QCOMPARE(quiet.count("Tray:"), 0);
}

QTEST_MAIN(TestAppManager)
#include "tst_appmanager.moc"
