#pragma once

#include <string>

// Starting a program as the signed-in desktop user from an elevated process:
// the desktop's shell (the shell window that owns the desktop) is asked to
// start it, so the program runs with the shell's rights and environment, not
// with the updater's administrator token.

// Asks the desktop's shell to open strPath ("open" verb, shown normally, no
// arguments) in strFolder as its current folder. The shell starts the
// program on its own: true says only that the request was accepted, not
// that the program started. False means nothing was started, at whichever
// step the shell did not answer, and the caller may start the program itself
// (CreateProcessW). Initialises COM on the calling thread for the call when
// it is not initialised yet; a thread already in another apartment model is
// used as it is.
bool StartThroughDesktopShell(const std::wstring& strPath, const std::wstring& strFolder);
