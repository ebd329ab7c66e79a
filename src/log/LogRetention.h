#pragma once

#include <windows.h>

#include <string>

// Deletes every file in the folder strFolder and below it whose last write is
// more than 15 whole days old, through its own handle, each folder listed
// through its handle. The folder is opened level by level from the drive's
// root: when any level is a link, nothing is pruned. Names beginning with a
// full stop are neither deleted nor entered; links are neither deleted nor
// entered, nor is an entry that changed since the listing. Read-only and
// open files stay. A folder too deep to walk is named in the log as "Left in
// place: <path>\r\n", so the log is opened first.
void PruneOldLogs(const std::wstring& strFolder);
