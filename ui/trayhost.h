#pragma once

#include <functional>

class QObject;

// Asks, without blocking, whether the notification area shows tray tool
// tips as plain text, and calls answer with the verdict in the GUI thread.
// On Linux that is so when Qt shows the icons through a StatusNotifierItem
// host on the session bus (its title is plain text), not on the X11
// notification area, whose tool tips are rich text when they look like it.
// Windows' notification area always shows plain text: true at once.
void askPlainToolTips(QObject *context, std::function<void(bool)> answer);
