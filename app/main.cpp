// The program's entry. Built twice: kestrolune on the system's Bluetooth,
// kestrolune-demo (KESTROLUNE_DEMO) on a simulated world of headsets.
#include "program.h"

#ifdef KESTROLUNE_DEMO
#include "demoworld.h"
#include "../platform/sim/simworld.h"
#else
#include "../platform/bluez/bluezbluetooth.h"
#endif

int main(int argc, char **argv)
{
    return runKestrolune(argc, argv, []() -> std::shared_ptr<platform::Bluetooth> {
#ifdef KESTROLUNE_DEMO
        return makeDemoWorld();
#else
        return std::make_shared<platform::bluez::BluezBluetooth>();
#endif
    });
}
