// A Windows service that does nothing but run until it is told to stop: it
// stands in for the audio-gateway service (BTAGService) in the takeover
// tests under Wine.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_handle = nullptr;
HANDLE g_stop = nullptr;
wchar_t g_name[] = L"BTAGService";

void report(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_handle, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void *, void *)
{
    if (code == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING);
        SetEvent(g_stop);
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, wchar_t **)
{
    g_handle = RegisterServiceCtrlHandlerExW(g_name, control, nullptr);
    if (!g_handle)
        return;
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop, INFINITE);
    report(SERVICE_STOPPED);
}

} // namespace

int main()
{
    SERVICE_TABLE_ENTRYW table[] = {{g_name, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
