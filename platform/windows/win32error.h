#pragma once

#include "../platformerror.h"

#include <QtGlobal>

namespace platform::windows {

// HRESULT_FROM_WIN32 of a Win32 or Winsock error number.
qint32 hresultFromWin32(quint32 error);

// Windows' own words for an error number (FormatMessageW), never empty.
QString systemMessage(quint32 error);

// The platform error for a Win32 or Winsock error: its HRESULT and its words.
PlatformError win32Error(quint32 error);

// The platform error for a Winsock error on an open stream. The errors that
// mean the headset went away (switched off, out of range, the link dropped)
// carry kOperationAborted, which the link shows as a switched-off device;
// the words stay Windows' own for the error that happened.
PlatformError streamError(int wsaError);

// Whether a Winsock error on an open stream means the peer went away.
bool peerWentAway(int wsaError);

} // namespace platform::windows
