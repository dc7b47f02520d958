#include "../services.h"

#include <windows.h>
#include <shellapi.h>

namespace platform::os {

bool hasServiceControl()
{
    return true;
}

bool serviceIsMissing(const QString &name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    const std::wstring wName = name.toStdWString();
    SC_HANDLE service = OpenServiceW(manager, wName.c_str(), SERVICE_QUERY_STATUS);
    const bool missing = !service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return missing;
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

} // namespace platform::os
