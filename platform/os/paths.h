#pragma once

#include <QString>

class QLockFile;

namespace platform::os {

// Where the lock and the local socket of the one running program live: the
// user's runtime directory on Linux ($XDG_RUNTIME_DIR, or Qt's fallback), the
// user's own temporary folder on Windows (Qt's runtime location there is the
// home directory itself).
QString runtimeDirectory();

// The program reads its loose files (window icon, font, level pictures) by
// paths relative to the working directory. On Windows a program started at
// login or from a shortcut does not start in its own folder, so it makes its
// folder the working directory; the Linux launchers start it from its data
// folder themselves. Needs the application object.
void enterProgramFolder();

// A lock file that a running program holds, whose holder has not answered
// on its local socket for a while: takes the lock over where the system can
// prove its holder gone, and says whether it did. On Windows a held lock
// file cannot be deleted, so a successful delete is that proof; QLockFile's
// own test there fails when the holder's process number now belongs to a
// process the user may not look at (after a restart, say), and the lock
// would block every start. On Linux QLockFile's test is sound: no take-over.
bool takeOverSilentLock(QLockFile &lock);

} // namespace platform::os
