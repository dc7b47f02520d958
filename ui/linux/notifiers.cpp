#include "../desktopnotifier.h"

// The desktop's notification server gives the warnings, whether or not a
// notification area shows the tray icons.
Notifier *Notifier::create(IconOf, QObject *parent)
{
    return new DesktopNotifier(parent);
}
