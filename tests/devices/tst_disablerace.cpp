#include "devices/rfcmanager.h"
#include "platform/sim/simworld.h"
#include "support/logcapture.h"

#include <QJsonObject>
#include <QtTest>

using platform::sim::SimWorld;

// disableDevice in the GUI thread while the registry's thread deletes the
// very link it looks up. Meant to run under ThreadSanitizer as well.
class TestDisableRace : public QObject
{
    Q_OBJECT

private slots:
    void disableWhileTheLinkEnds();
};

void TestDisableRace::disableWhileTheLinkEnds()
{
    LogCapture quiet;
    auto world = std::make_shared<SimWorld>();
    auto headset = world->addHeadset("x", "X");
    auto *manager = new RFCManager(QJsonObject{{"x", QJsonObject{{"listen", true}}}}, world);
    QSignalSpy untray(manager, &RFCManager::signal_unregisterFromTray);
    manager->start();

    const int rounds = qEnvironmentVariableIntValue("KESTROLUNE_RACE_ROUNDS") > 0
                           ? qEnvironmentVariableIntValue("KESTROLUNE_RACE_ROUNDS") : 4;
    int seen = 0;
    for (int round = 0; round < rounds; ++round) {
        QTRY_COMPARE_WITH_TIMEOUT(headset->connections(), round + 1, 8000);
        QVERIFY(headset->session()->waitForSetUp(8000));
        // The link ends by itself and is deleted by the registry's thread
        // while this thread keeps asking to disable it.
        headset->breakStream();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 400) {
            manager->disableDevice("x");
            QCoreApplication::processEvents();
        }
        seen = untray.count();
        QVERIFY(seen <= round + 1);
    }
    QVERIFY(manager->shutdown(5000));
    delete manager;
}

QTEST_GUILESS_MAIN(TestDisableRace)
#include "tst_disablerace.moc"
