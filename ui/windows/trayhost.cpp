#include "../trayhost.h"

void askPlainToolTips(QObject *, std::function<void(bool)> answer)
{
    answer(true);
}
