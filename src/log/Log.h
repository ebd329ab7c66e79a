#pragma once

#include <string>

// The run's own log: one file per run below the local application-data
// folder, UTF-8 without BOM, written only through WriteLog.

// Full path of this run's log file: Vimo_LumetUpdate<UTC time>.log in the
// folder Vimo\VimoLumet\Log below the local application-data folder of the
// user's profile (AppData\Local): strProfile, or, when empty, this process's
// own user's. Creates the missing levels of that chain, but none below a
// link. Empty when the profile folder cannot be found.
std::wstring MakeLogFilePath(const std::wstring& strProfile = std::wstring());

// Opens the log's folder level by level from the drive's root, creates the
// log file in it, or opens and empties the existing file of that name. When
// a level of the folder is a link or missing, or the file's name holds a
// reparse point or a file with more than one name, no log is opened. Does its
// work once: while a log is open it changes nothing. Returns whether a log is
// open.
bool OpenLog(const std::wstring& strPath);

bool IsLogOpen();

void CloseLog();

// Appends the text as UTF-8 and flushes at once. Adds nothing of its own: no
// time stamp, no prefix, no line end. Writes nothing when no log is open.
void WriteLog(const std::wstring& strText);

// "Left in place: <path>\r\n": something the program meant to delete stays.
void WriteLeftInPlace(const std::wstring& strPath);
