#include "../paths.h"

#include <QStandardPaths>

namespace platform::os {

QString runtimeDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

void enterProgramFolder() {}

bool takeOverSilentLock(QLockFile &)
{
    return false;
}

} // namespace platform::os
