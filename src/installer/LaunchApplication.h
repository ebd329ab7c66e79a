#pragma once

#include <string>

// Starts the freshly installed application, VimoLumet\VimoLumet.exe below the
// install folder (or below the default folder when none is known), joined
// with exactly one backslash, after writing "Run Lumet" and the path to the
// run's log. It starts as the signed-in user, without administrator rights,
// through the desktop's shell where the system lets the update do so; else
// by its full path, with the machine's environment and the user's profile
// folders. In its own folder either way; never through the verbs that
// per-user settings can register. Not waited for; a failure shows nothing.
void LaunchApplication(const std::wstring& strInstallDir);
