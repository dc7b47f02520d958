#pragma once

#include <QString>

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

} // namespace platform::os
