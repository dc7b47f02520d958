// The program's entry. Built twice: kestrolune on the system's Bluetooth
// (BlueZ on Linux, Windows' own on Windows), kestrolune-demo
// (KESTROLUNE_DEMO) on a simulated world of headsets.
#include "program.h"

#ifdef KESTROLUNE_DEMO
#include "demoworld.h"
#include "../platform/sim/simworld.h"
#else
#include "../platform/systembluetooth.h"
#endif

int main(int argc, char **argv)
{
    return runKestrolune(argc, argv, []() -> std::shared_ptr<platform::Bluetooth> {
#ifdef KESTROLUNE_DEMO
        return makeDemoWorld();
#else
        return platform::makeSystemBluetooth();
#endif
    });
}
