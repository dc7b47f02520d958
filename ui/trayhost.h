#pragma once

#include <functional>

class QObject;

// Asks, without blocking, whether Qt shows tray icons through a
// StatusNotifierItem host on the session bus (Linux desktops with D-Bus),
// and calls answer with the verdict in the GUI thread. Windows has only its
// own notification area: the answer is false at once.
void askStatusNotifierHost(QObject *context, std::function<void(bool)> answer);
