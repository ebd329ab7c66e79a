#pragma once

#include <string>

// Starts the freshly installed application, VimoLumet\VimoLumet.exe below the
// install folder (or below the default folder when none is known), joined
// with exactly one backslash, after writing "Run Lumet" and the path to the
// run's log. It is started only by the desktop's shell, as the signed-in user
// and without the updater's rights, in its own folder; never through the
// verbs that per-user settings can register. Where the shell does not answer
// within a few seconds it is not started, and the log says
// "Application not started: <reason>". Not waited for.
void LaunchApplication(const std::wstring& strInstallDir);
