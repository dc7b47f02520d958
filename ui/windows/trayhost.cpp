#include "../trayhost.h"

void askStatusNotifierHost(QObject *, std::function<void(bool)> answer)
{
    answer(false);
}
