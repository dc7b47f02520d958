#include "app/wiring.h"
#include "devices/rfcmanager.h"
#include "platform/sim/simworld.h"
#include "support/logcapture.h"
#include "support/quickitems.h"
#include "support/recordingsink.h"
#include "ui/appmanager.h"

#include <QAbstractItemModel>
#include <QJsonDocument>
#include <QQmlApplicationEngine>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using platform::sim::SimHeadset;
using platform::sim::SimWorld;

// Sixteen simulated headsets connect, report, break, vanish and return at
// random while profile boxes are clicked, for a fixed number of rounds
// (KESTROLUNE_SOAK_ROUNDS, default 3; KESTROLUNE_SOAK_SEED picks the run).
class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void soak();

private:
    struct Device
    {
        QString id;
        std::shared_ptr<SimHeadset> headset;
        bool present = true;
    };

    bool talking(const Device &d) const;
    void reportRound(QList<Device> &devices);
    void chaosRound(QList<Device> &devices);
    void clickSomeBoxes();
    void checkConfigFile();
    int row(const QString &id) const;

    QRandomGenerator m_random;
    std::shared_ptr<SimWorld> m_world;
    QQuickWindow *m_window = nullptr;
    QAbstractItemModel *m_model = nullptr;
    QString m_config;
    QHash<QString, QList<int>> m_shown; // BatteryValue changes per Id, in arrival order
};

int TestSoak::row(const QString &id) const
{
    for (int r = 0; r < m_model->rowCount(); ++r)
        if (m_model->data(m_model->index(r, 0), m_model->roleNames().key("Id")).toString() == id)
            return r;
    return -1;
}

bool TestSoak::talking(const Device &d) const
{
    const auto session = d.headset->session();
    // Unticking 监听 ends the link at once; the headset then waits unanswered.
    const QVariantMap profile = m_window->property("deviceProfile").toMap().value(d.id).toMap();
    return profile.value("listen").toBool() && d.present && row(d.id) >= 0 && session && session->isSetUp() && !session->hasEnded()
           && !session->wasBroken() && !session->wasClosed();
}

// Every talking headset reports three levels, one at a time (each waits for
// the gateway's OK); each must reach its row, in order.
void TestSoak::reportRound(QList<Device> &devices)
{
    QHash<QString, QList<int>> sent;
    for (int k = 0; k < 3; ++k) {
        QHash<QString, int> okBefore;
        for (const Device &d : devices) {
            if (!talking(d))
                continue;
            const int level = int(m_random.bounded(101));
            okBefore[d.id] = d.headset->session()->finalCount();
            d.headset->setLevel(level);
            sent[d.id] << level;
        }
        QVERIFY2(!okBefore.isEmpty(), "no headset was talking: the round would check nothing");
        for (auto it = okBefore.cbegin(); it != okBefore.cend(); ++it) {
            const auto &d = *std::find_if(devices.cbegin(), devices.cend(), [&](const Device &x) { return x.id == it.key(); });
            QVERIFY2(d.headset->session()->waitForFinalCount(it.value() + 1, 5000), qPrintable(d.id + " got no OK"));
        }
    }
    for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
        const QString id = it.key();
        QTRY_VERIFY2_WITH_TIMEOUT(m_shown.value(id).size() >= 3 && m_shown.value(id).mid(m_shown.value(id).size() - 3) == it.value(),
                                  qPrintable(QStringLiteral("%1 showed %2, sent %3").arg(id, QVariant::fromValue(m_shown.value(id)).toString(),
                                                                                    QVariant::fromValue(it.value()).toString())),
                                  5000);
    }
}

void TestSoak::chaosRound(QList<Device> &devices)
{
    for (Device &d : devices) {
        switch (m_random.bounded(6)) {
        case 0: // switched off: the stream breaks
            d.headset->breakStream();
            break;
        case 1: // out of range: gone from the list, stream broken
            if (d.present) {
                d.headset->breakStream();
                m_world->removeDevice(d.id);
                d.present = false;
            }
            break;
        case 2: // back in range
            if (!d.present) {
                const auto services = QVector<platform::RfcommService>{
                    {SimWorld::kHandsFreeUuid, "Bluetooth#Hfp#" + d.id, "(sim:" + d.id + ")"}};
                m_world->addDevice({d.id, d.id, true, services});
                d.present = true;
            }
            break;
        case 3: // a clean close from the headset
            d.headset->closeCleanly();
            break;
        default:
            break;
        }
    }
    clickSomeBoxes();
}

void TestSoak::clickSomeBoxes()
{
    const QList<QQuickItem *> cards = deviceCards(m_window);
    for (int i = 0; i < 3 && !cards.isEmpty(); ++i) {
        QQuickItem *card = cards.at(int(m_random.bounded(cards.size())));
        const char *box = m_random.bounded(2) ? "deviceItemCheckTray" : "deviceItemCheckListen";
        clickItem(m_window, findItem(findItem(card, box), "box"));
        checkConfigFile();
    }
}

// After every save the file holds valid JSON: the window's whole map.
void TestSoak::checkConfigFile()
{
    QFile f(m_config);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(doc.isObject());
    QCOMPARE(doc.object(), QJsonObject::fromVariantMap(m_window->property("deviceProfile").toMap()));
}

void TestSoak::soak()
{
    LogCapture quiet;
    const int rounds = qEnvironmentVariableIntValue("KESTROLUNE_SOAK_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("KESTROLUNE_SOAK_ROUNDS") : 3;
    const quint32 seed = qEnvironmentVariableIsSet("KESTROLUNE_SOAK_SEED")
                             ? quint32(qEnvironmentVariableIntValue("KESTROLUNE_SOAK_SEED")) : 20261207u;
    m_random.seed(seed);
    qInfo() << "soak seed" << seed << "rounds" << rounds;

    QTemporaryDir home;
    m_config = home.filePath("kestrolune.json");
    m_world = std::make_shared<SimWorld>();
    QList<Device> devices;
    QJsonObject profiles;
    for (int i = 0; i < 16; ++i) {
        const QString id = QStringLiteral("h%1").arg(i, 2, 10, QLatin1Char('0'));
        platform::sim::HeadsetOptions options;
        options.level = 50 + i;
        devices.append({id, m_world->addHeadset(id, id, options), true});
        profiles.insert(id, QJsonObject{{"listen", true}, {"tray", i % 2 == 0}});
    }
    {
        QFile f(m_config);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(profiles).toJson());
    }

    AppManager app;
    auto sink = std::make_shared<RecordingSink>();
    app.setMessageSink(sink);
    app.setConfigPath(m_config);
    QQmlApplicationEngine engine;
    engine.load(QUrl("qrc:/qml/main.qml"));
    QVERIFY(!engine.rootObjects().isEmpty());
    m_window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    m_window->resize(640, 16 * 80 + 120); // every row on screen, so every box can be clicked
    m_model = m_window->findChild<QAbstractItemModel *>("deviceModel");
    connect(m_model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &from, const QModelIndex &, const QVector<int> &roles) {
        const int battery = m_model->roleNames().key("BatteryValue");
        if (roles.isEmpty() || roles.contains(battery))
            m_shown[m_model->data(from, m_model->roleNames().key("Id")).toString()] << m_model->data(from, battery).toInt();
    });

    RFCManager *manager = startDeviceManagement(engine, app, m_world);
    QVERIFY(manager);
    QTRY_COMPARE_WITH_TIMEOUT(m_model->rowCount(), 16, 5000);

    for (int round = 0; round < rounds; ++round) {
        // Let the links (re)connect: the scan cycle, then the set-up.
        QTest::qWait(RFCManager::kScanIntervalMs + 2500);
        reportRound(devices);
        if (QTest::currentTestFailed())
            break;
        chaosRound(devices);
    }

    stopDeviceManagement(manager, app);
    QVERIFY(sink->boxes.isEmpty());
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
