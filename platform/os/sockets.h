#pragma once

#include <QString>
#include <QtGlobal>

namespace platform::os {

// A socket (on Linux any descriptor) as the system hands it out: an int
// descriptor on Linux, a SOCKET on Windows.
using Handle = qintptr;
constexpr Handle kNoHandle = -1;

// What a wait is for.
constexpr short kReadable = 0x1;
constexpr short kWritable = 0x4;

// A connected pair of local stream sockets, both non-blocking: a socket pair
// on Linux, two ends of a loopback TCP connection on Windows (which has no
// socket pairs). False when none could be made.
bool makeSocketPair(Handle pair[2]);
void closeHandle(Handle handle);
// Ends our direction of the stream (the peer reads its end), or both.
void shutdownWrite(Handle handle);
void shutdownBoth(Handle handle);

// One read or write that never waits: the bytes moved, 0 for a read at the
// end of the stream, -1 on an error (lastError() says which; isTransient()
// says whether trying again later may work). writeSome also writes to a
// descriptor that is no socket (standard output on Linux).
qint64 readSome(Handle handle, char *buffer, qint64 size);
qint64 writeSome(Handle handle, const char *data, qint64 size);
int lastError();
bool isTransient(int error);

// Waits until handle is ready for events (kReadable, kWritable), until
// wakeHandle is readable, or until timeoutMs has passed (-1: no limit). A
// handle of kNoHandle is not waited on. Returns a mask of what is ready:
// 1 the handle (readable, writable, or at its end or failed), 2 the wake
// handle; 0 at the timeout, -1 on an error (lastError()).
int waitReady(Handle handle, short events, Handle wakeHandle, int timeoutMs);

// The result code for a system error (errno on Linux, a Winsock error on
// Windows), in the HRESULT form that wraps an operating-system error code
// (0x8007xxxx); errors that mean the peer went away carry the code for an
// aborted operation. And the system's own words for it.
qint32 codeForError(int error);
QString messageForError(int error);

// Error numbers the callers name.
int errorTimedOut();
int errorNotConnected();
int errorRefused();

} // namespace platform::os
