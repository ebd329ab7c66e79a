#pragma once

#include "win/ScopedHandle.h"

#include <string>

// The run's own log: one file per run below the local application-data
// folder, UTF-8 without BOM, written only through WriteLog.

// The open log; no handle while none is open.
extern CHandle g_hLogFile;

// Full path of this run's log file: Vimo_LumetUpdate<UTC time>.log in the
// folder Vimo\VimoLumet\Log below the local application-data folder of the
// user's profile (AppData\Local). Creates
// the missing levels of that chain, but none below a link. Empty when the
// application-data folder cannot be found.
std::wstring MakeLogFilePath();

// The same below a given application-data folder; empty when it is empty.
std::wstring MakeLogFilePathIn(const std::wstring& strAppData);

// Opens the log's folder level by level from the drive's root, creates the
// log file in it, or opens and empties the existing file of that name, then
// prunes the folder (PruneOldLogs). When a level of the folder is a link or
// missing, nothing is pruned and no log is opened; when the file's name
// holds a reparse point or a file with more than one name, no log is
// opened. Does its work once: while a log is open it changes nothing.
// Returns whether a log is open.
bool OpenLog(const std::wstring& strPath);

void CloseLog();

// Appends the text as UTF-8 and flushes at once. Adds nothing of its own: no
// time stamp, no prefix, no line end. Writes nothing when no log is open.
void WriteLog(const std::wstring& strText);
