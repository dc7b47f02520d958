#pragma once

#include <memory>

namespace platform::sim {
class SimWorld;
}

// The demo's simulated world: a connected headset whose level drains slowly
// from 100, a second connected headset at 14 (a red gauge), and a disconnected device
// without the hands-free service. The drain runs on a timer of the
// application object; call once the application object exists.
std::shared_ptr<platform::sim::SimWorld> makeDemoWorld();
