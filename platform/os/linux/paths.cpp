#include "../paths.h"

#include <QStandardPaths>

namespace platform::os {

QString runtimeDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

void enterProgramFolder() {}

} // namespace platform::os
