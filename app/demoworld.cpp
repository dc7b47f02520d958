#include "demoworld.h"

#include "../platform/sim/simworld.h"

#include <QCoreApplication>
#include <QTimer>

using platform::sim::HeadsetOptions;
using platform::sim::SimWorld;

std::shared_ptr<SimWorld> makeDemoWorld()
{
    auto world = std::make_shared<SimWorld>();
    HeadsetOptions full;
    full.level = 100;
    auto draining = world->addHeadset(QStringLiteral("sim-headset-aurora"), QStringLiteral("Aurora Buds"), full);
    HeadsetOptions low;
    low.level = 14; // below 15 %: its gauge shows red
    world->addHeadset(QStringLiteral("sim-headset-tern"), QStringLiteral("Tern Headset"), low);
    world->addDevice({QStringLiteral("sim-speaker-kite"), QStringLiteral("Kite Speaker"), false,
                      {{QUuid(QStringLiteral("{0000110b-0000-1000-8000-00805f9b34fb}")),
                        QStringLiteral("Bluetooth#AudioSink"), QStringLiteral("(sim:kite)")}}});
    // Earbuds whose level the system already knows (their own battery
    // service): it shows with nothing ticked, and 监听 opens no channel.
    world->addHeadset(QStringLiteral("sim-earbuds-heron"), QStringLiteral("Heron Earbuds"));
    world->setBatteryLevel(QStringLiteral("sim-earbuds-heron"), 62);
    // A headset close to empty: ticked for 托盘 and 监听, it falls to 20 %
    // within a minute and to 10 % within another, and the desktop warns.
    HeadsetOptions nearlyEmpty;
    nearlyEmpty.level = 23;
    auto emptying = world->addHeadset(QStringLiteral("sim-headset-wren"), QStringLiteral("Wren Headset"), nearlyEmpty);

    // One percent every four seconds, round again from 100 when empty.
    auto *drain = new QTimer(QCoreApplication::instance()); // owned by the application object
    QObject::connect(drain, &QTimer::timeout, drain, [draining, emptying] {
        for (const auto &headset : {draining, emptying}) {
            const int level = headset->level();
            headset->setLevel(level > 0 ? level - 1 : 100);
        }
    });
    drain->start(4000);
    return world;
}
