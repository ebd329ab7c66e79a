#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// Seconds since the epoch of a UTC system time read as local calendar time,
// as the C library's 64-bit mktime gives it. Years before 1900 give 0; a time
// the library cannot convert (beyond the year 3000) gives no value.
std::optional<int64_t> CalendarTimeOf(const SYSTEMTIME& st);

// Whether a file last written at ftLastWrite is old enough to be pruned at
// stNow: its age in whole days (truncated toward zero) is greater than 15.
// A time that cannot be converted is never old enough.
bool IsPrunable(const FILETIME& ftLastWrite, const SYSTEMTIME& stNow);

// Deletes every file in the folder strFolder and below it whose last write is
// more than 15 whole days old, through its own handle, each folder listed
// through its handle. The folder is opened level by level from the drive's
// root: when any level is a link, nothing is pruned. Names beginning with a
// full stop are neither deleted nor entered; links are neither deleted nor
// entered, nor is an entry that changed since the listing. Read-only and
// open files stay. A folder too deep to walk is named in the log as "Left in
// place: <path>\r\n", so the log is opened first.
void PruneOldLogs(const std::wstring& strFolder);
