#include "shellexecute.h"

#include <QProcess>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace platform {

std::optional<QByteArray> runAndCollect(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForFinished(-1))
        return std::nullopt;
    return process.readAllStandardOutput();
}

#ifdef _WIN32
bool hasAudioGatewayService()
{
    return true;
}

bool launchElevated(const QString &verb, const QString &file, const QString &parameters)
{
    const std::wstring wVerb = verb.toStdWString();
    const std::wstring wFile = file.toStdWString();
    const std::wstring wParameters = parameters.toStdWString();
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.lpVerb = wVerb.c_str();
    info.lpFile = wFile.c_str();
    info.lpParameters = wParameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    const bool ok = ShellExecuteExW(&info);
    if (ok && info.hProcess)
        CloseHandle(info.hProcess);
    return ok;
}
#else
bool hasAudioGatewayService()
{
    return false;
}

bool launchElevated(const QString &, const QString &, const QString &)
{
    return false;
}
#endif

} // namespace platform
