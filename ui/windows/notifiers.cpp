#include "../traynotifier.h"

// Windows has no notification server: the tray icons give the warnings.
Notifier *Notifier::create(IconOf iconOf, QObject *parent)
{
    return new TrayNotifier(std::move(iconOf), parent);
}
