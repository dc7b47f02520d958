#include "../paths.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace platform::os {

QString runtimeDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation);
}

void enterProgramFolder()
{
    const QString folder = QCoreApplication::applicationDirPath();
    if (!QDir::setCurrent(folder))
        qWarning() << "Cannot work in the program's folder" << QDir::toNativeSeparators(folder);
}

bool takeOverSilentLock(QLockFile &lock)
{
    return lock.removeStaleLockFile() && lock.tryLock(0);
}

} // namespace platform::os
