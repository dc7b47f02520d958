#include "win32error.h"

#include <winsock2.h>
#include <windows.h>

namespace platform::windows {

qint32 hresultFromWin32(quint32 error)
{
    // The macro's own rule: 0 and what is already an HRESULT stay as they
    // are, other numbers get the Win32 facility.
    if (qint32(error) <= 0)
        return qint32(error);
    return qint32((error & 0xFFFFu) | 0x80070000u);
}

QString systemMessage(quint32 error)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    QString text;
    if (length > 0 && buffer)
        text = QString::fromWCharArray(buffer, int(length)).trimmed();
    LocalFree(buffer);
    if (text.isEmpty()) {
        // Systems without Winsock's texts (Wine) still say what a missing
        // Bluetooth socket provider means.
        if (error == WSAEAFNOSUPPORT || error == WSAEPROTONOSUPPORT)
            text = QStringLiteral("This system's sockets have no Bluetooth (Winsock error %1).").arg(error);
        else
            text = QStringLiteral("Windows error %1.").arg(error);
    }
    return text;
}

PlatformError win32Error(quint32 error)
{
    return PlatformError(hresultFromWin32(error), systemMessage(error));
}

bool peerWentAway(int wsaError)
{
    switch (wsaError) {
    case WSAECONNRESET:   // the headset reset the channel (switched off)
    case WSAECONNABORTED: // the stack dropped the link (out of range, supervision timeout)
    case WSAENETDOWN:     // the local radio went away or was switched off
    case WSAENETRESET:
    case WSAEHOSTDOWN:
    case WSAEHOSTUNREACH:
    case WSAETIMEDOUT:
    case WSAENOTCONN:
    case WSAESHUTDOWN:    // our own close() came first
    case WSAEDISCON:
    case WSA_OPERATION_ABORTED:
        return true;
    default:
        return false;
    }
}

PlatformError streamError(int wsaError)
{
    const QString words = systemMessage(quint32(wsaError));
    if (peerWentAway(wsaError))
        return PlatformError(kOperationAborted, words);
    return PlatformError(hresultFromWin32(quint32(wsaError)), words);
}

} // namespace platform::windows
