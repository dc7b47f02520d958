#include "support/logcapture.h"
#include "support/quickitems.h"

#include <QAbstractItemModel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

// The main window, driven through its functions as the native side drives it.
class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void registeredDeviceShowsItsNameOnly();
    void namesAreNeverMarkup();
    void longNamesLeaveTheGaugeReadable();
    void updatesReachTheFirstMatchingRow();
    void unregisterOfAMissingIdChangesNothing();
    void batteryGauge();
    void systemNotice();
    void clickEmitsTheWholeMap();
    void profileBindsTheBoxes();
    void closingHidesAndTheTrayIconToggles();

private:
    void call(const char *function, const QVariant &a, const QVariant &b = QVariant());
    QVariant role(int row, const char *name) const;
    QList<QQuickItem *> cards() const;
    QQuickItem *child(QQuickItem *card, const char *name) const;
    void click(QQuickItem *item);

    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    QAbstractItemModel *m_model = nullptr;
};

namespace {
QJsonObject record(const QString &id, const QString &name)
{
    return {{"Id", id}, {"Name", name}, {"Status", true}, {"Services", QJsonArray()}};
}
} // namespace

void TestWindow::init()
{
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->load(QUrl("qrc:/qml/main.qml"));
    QCOMPARE(m_engine->rootObjects().size(), 1);
    m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_model = m_window->findChild<QAbstractItemModel *>("deviceModel");
    QVERIFY(m_model);
}

void TestWindow::cleanup()
{
    m_engine.reset();
}

void TestWindow::call(const char *function, const QVariant &a, const QVariant &b)
{
    if (b.isValid())
        QVERIFY(QMetaObject::invokeMethod(m_window, function, Q_ARG(QVariant, a), Q_ARG(QVariant, b)));
    else
        QVERIFY(QMetaObject::invokeMethod(m_window, function, Q_ARG(QVariant, a)));
}

QVariant TestWindow::role(int row, const char *name) const
{
    return m_model->data(m_model->index(row, 0), m_model->roleNames().key(name));
}

QList<QQuickItem *> TestWindow::cards() const
{
    return deviceCards(m_window);
}

QQuickItem *TestWindow::child(QQuickItem *card, const char *name) const
{
    return findItem(card, name);
}

void TestWindow::click(QQuickItem *item)
{
    clickItem(m_window, item);
}

void TestWindow::registeredDeviceShowsItsNameOnly()
{
    call("registerToIndex", record("id-1", "Buds"));
    QCOMPARE(m_model->rowCount(), 1);
    QCOMPARE(role(0, "Name").toString(), QStringLiteral("Buds"));
    QCOMPARE(role(0, "Id").toString(), QStringLiteral("id-1"));
    QCOMPARE(role(0, "Status").toBool(), false);
    QCOMPARE(role(0, "ErrMsg").toString(), QString());
    QCOMPARE(role(0, "BatteryValue").toInt(), -1);
    QTRY_COMPARE(cards().size(), 1);
    QCOMPARE(child(cards()[0], "deviceItemName")->property("text").toString(), QStringLiteral("Buds"));
    QVERIFY(!child(cards()[0], "deviceItemExclamation")->isVisible());
    QVERIFY(!child(cards()[0], "deviceItemBattery")->isVisible());
}

void TestWindow::namesAreNeverMarkup()
{
    const QString names[] = {"<b>x</b>", "<img src=\"file:///etc/passwd\">", QString(10000, QChar(u'長'))};
    for (const QString &name : names)
        call("registerToIndex", record(name, name));
    QTRY_COMPARE(cards().size(), 3);
    for (QQuickItem *card : cards()) {
        QQuickItem *text = child(card, "deviceItemName");
        QCOMPARE(text->property("textFormat").toInt(), 0); // Text.PlainText
        QVERIFY(text->property("text").toString() == names[cards().indexOf(card)]);
    }
}

void TestWindow::longNamesLeaveTheGaugeReadable()
{
    const QString names[] = {"Buds", "Harrier Trail Q30 Wireless Headsets", QString(10000, QChar(u'長'))};
    for (const QString &name : names) {
        call("registerToIndex", record(name, name));
        call("updateDeviceErrorMessage", name, "off");
        call("updateDeviceBatteryValue", name, 50);
    }
    QTRY_COMPARE(cards().size(), 3);
    for (QQuickItem *card : cards()) {
        QQuickItem *name = child(card, "deviceItemName");
        QQuickItem *marker = child(card, "deviceItemExclamation");
        QQuickItem *gauge = child(card, "deviceItemBattery");
        const bool shortName = name->property("text").toString() == names[0];
        // A short name as before; a long one cut short, the marker and the
        // gauge left of the boxes, on the card.
        QCOMPARE(name->property("truncated").toBool(), !shortName);
        if (shortName)
            QCOMPARE(name->width(), name->property("implicitWidth").toReal());
        QCOMPARE(marker->x(), name->x() + name->width() + 10);
        QVERIFY(gauge->x() + gauge->width() <= child(card, "deviceItemCheckTray")->x());
        QVERIFY(marker->isVisible() && gauge->isVisible());
    }
    // Hovering a cut name shows it whole, as plain text.
    QQuickItem *name = child(cards()[1], "deviceItemName");
    QTest::mouseMove(m_window, name->mapToScene(QPointF(10, name->height() / 2)).toPoint());
    QQuickItem *tipText = nullptr;
    QTRY_VERIFY((tipText = findItem(m_window->contentItem(), "deviceItemNameTipText")) && tipText->isVisible());
    QCOMPARE(tipText->property("text").toString(), names[1]);
    QCOMPARE(tipText->property("textFormat").toInt(), 0); // Text.PlainText
}

void TestWindow::updatesReachTheFirstMatchingRow()
{
    call("registerToIndex", record("dup", "First"));
    call("registerToIndex", record("dup", "Second"));
    QCOMPARE(m_model->rowCount(), 2);
    QTRY_COMPARE(cards().size(), 2);
    call("updateDeviceErrorMessage", "dup", "broken");
    call("updateDeviceBatteryValue", "dup", 42);
    QCOMPARE(role(0, "ErrMsg").toString(), QStringLiteral("broken"));
    QCOMPARE(role(0, "BatteryValue").toInt(), 42);
    QCOMPARE(role(1, "ErrMsg").toString(), QString());
    QCOMPARE(role(1, "BatteryValue").toInt(), -1);
    QTRY_VERIFY(child(cards()[0], "deviceItemExclamation")->isVisible());
    call("unregisterFromIndex", "dup");
    QCOMPARE(m_model->rowCount(), 1);
    QCOMPARE(role(0, "Name").toString(), QStringLiteral("Second"));
}

void TestWindow::unregisterOfAMissingIdChangesNothing()
{
    call("registerToIndex", record("a", "A"));
    call("registerToIndex", record("b", "B"));
    call("unregisterFromIndex", "zzz");
    QCOMPARE(m_model->rowCount(), 2);
    QCOMPARE(role(0, "Id").toString(), QStringLiteral("a"));
    QCOMPARE(role(1, "Id").toString(), QStringLiteral("b"));
    call("unregisterFromIndex", "a");
    call("unregisterFromIndex", "a");
    call("updateDeviceBatteryValue", "a", 10);
    QCOMPARE(m_model->rowCount(), 1);
    QCOMPARE(role(0, "Id").toString(), QStringLiteral("b"));
    QCOMPARE(role(0, "BatteryValue").toInt(), -1);
}

void TestWindow::batteryGauge()
{
    call("registerToIndex", record("a", "A"));
    QTRY_COMPARE(cards().size(), 1);
    QQuickItem *gauge = child(cards()[0], "deviceItemBattery");
    QQuickItem *bar = child(gauge, "levelBar");
    auto barColour = [&] { return bar->property("color").value<QColor>(); };
    call("updateDeviceBatteryValue", "a", 0);
    QVERIFY(gauge->isVisible());
    QCOMPARE(child(gauge, "percentText")->property("text").toString(), QStringLiteral("0%"));
    QVERIFY(!bar->isVisible());
    call("updateDeviceBatteryValue", "a", 14);
    QCOMPARE(barColour(), QColor("red"));
    call("updateDeviceBatteryValue", "a", 15);
    QCOMPARE(barColour(), QColor("#FFC107"));
    call("updateDeviceBatteryValue", "a", 50);
    QCOMPARE(barColour(), QColor("#FFC107"));
    call("updateDeviceBatteryValue", "a", 51);
    QCOMPARE(barColour(), QColor("#4CAF50"));
    QCOMPARE(gauge->property("color").value<QColor>(), cards()[0]->property("color").value<QColor>());
    call("updateDeviceBatteryValue", "a", -1);
    QVERIFY(!gauge->isVisible());
}

void TestWindow::systemNotice()
{
    QQuickItem *notice = m_window->findChild<QQuickItem *>("systemNotify");
    QCOMPARE(notice->property("text").toString(), QStringLiteral("蓝牙未开启"));
    call("updateSystemNotify", "蓝牙设备未开启");
    QCOMPARE(notice->property("text").toString(), QStringLiteral("蓝牙设备未开启"));
    call("updateSystemNotify", "");
    QCOMPARE(notice->property("text").toString(), QString());
}

void TestWindow::clickEmitsTheWholeMap()
{
    QSignalSpy spy(m_window, SIGNAL(updateDeviceProfiles(QString)));
    call("setDeviceProfile", QJsonObject{{"other", QJsonObject{{"tray", true}}}});
    call("registerToIndex", record("a", "A"));
    QTRY_COMPARE(cards().size(), 1);
    QCOMPARE(spy.count(), 0);
    QQuickItem *listen = child(cards()[0], "deviceItemCheckListen");
    click(child(listen, "box"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral(R"({"other":{"tray":true},"a":{"listen":true}})"));
    QCOMPARE(listen->property("isCheck").toBool(), false); // the binding is not re-evaluated
    QCOMPARE(listen->property("innerValue").toBool(), true);
    click(child(child(cards()[0], "deviceItemCheckTray"), "box"));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral(R"({"other":{"tray":true},"a":{"listen":true,"tray":true}})"));
    // A second click returns the box and notifies again.
    QQuickItem *mark = child(child(listen, "box"), "mark");
    QVERIFY(mark->isVisible());
    click(child(listen, "box"));
    QCOMPARE(listen->property("innerValue").toBool(), false);
    QVERIFY(!mark->isVisible());
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(2).at(0).toString(), QStringLiteral(R"({"other":{"tray":true},"a":{"listen":false,"tray":true}})"));

    // A stored entry that is no object is replaced by one with the clicked key.
    for (const QJsonValue &stored : {QJsonValue(5), QJsonValue("on"), QJsonValue(QJsonArray{1})}) {
        call("setDeviceProfile", QJsonObject{{"a", stored}});
        click(child(listen, "box"));
        QCOMPARE(QJsonDocument::fromJson(spy.last().at(0).toString().toUtf8()).object(),
                 QJsonObject({{"a", QJsonObject{{"listen", listen->property("innerValue").toBool()}}}}));
    }
}

void TestWindow::profileBindsTheBoxes()
{
    QSignalSpy spy(m_window, SIGNAL(updateDeviceProfiles(QString)));
    call("setDeviceProfile", QJsonObject{{"a", QJsonObject{{"listen", true}, {"tray", false}}}});
    call("registerToIndex", record("a", "A"));
    QTRY_COMPARE(cards().size(), 1);
    QCOMPARE(child(cards()[0], "deviceItemCheckListen")->property("innerValue").toBool(), true);
    QCOMPARE(child(cards()[0], "deviceItemCheckTray")->property("innerValue").toBool(), false);
    // Creating the card turned the listen box on: the unchanged map is sent once.
    QCOMPARE(spy.count(), 1);
    QCOMPARE(QJsonDocument::fromJson(spy.at(0).at(0).toString().toUtf8()).object(),
             QJsonObject({{"a", QJsonObject{{"listen", true}, {"tray", false}}}}));
    // A new profile map is pushed into the boxes.
    call("setDeviceProfile", QJsonObject{{"a", QJsonObject{{"tray", true}}}});
    QCOMPARE(child(cards()[0], "deviceItemCheckTray")->property("innerValue").toBool(), true);
    QCOMPARE(child(cards()[0], "deviceItemCheckListen")->property("innerValue").toBool(), false);
}

void TestWindow::closingHidesAndTheTrayIconToggles()
{
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    m_window->close();
    QCoreApplication::processEvents();
    QVERIFY(!m_window->isVisible());
    QCOMPARE(lastClosed.count(), 0);
    QObject *tray = m_window->findChild<QObject *>("trayWindow");
    QVERIFY(tray);
    // Emit the icon's activated(reason) signal as a click on the icon would.
    const int index = tray->metaObject()->indexOfSignal("activated(QPlatformSystemTrayIcon::ActivationReason)");
    QVERIFY(index >= 0);
    const QMetaMethod activated = tray->metaObject()->method(index);
    int reason = 3; // Trigger
    void *args[] = {nullptr, &reason};
    const QMetaObject *owner = activated.enclosingMetaObject();
    const int local = activated.methodIndex() - owner->methodOffset();
    QMetaObject::activate(tray, owner, local, args);
    QVERIFY(m_window->isVisible());
    QMetaObject::activate(tray, owner, local, args);
    QVERIFY(!m_window->isVisible());
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
