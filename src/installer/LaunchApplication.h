#pragma once

#include <string>

// Starts the freshly installed application, VimoLumet\VimoLumet.exe below the
// install folder (or below the default folder when none is known), after
// writing "Run Lumet" and the path to the run's log. Not waited for; a
// failure shows nothing.
void LaunchApplication(const std::wstring& strInstallDir);
