#pragma once

#include <windows.h>

#include <memory>
#include <string>

// The run's own log: one file per run below the local application-data
// folder, UTF-8 without BOM, written only through WriteLog.

// The open log, or INVALID_HANDLE_VALUE while none is open.
extern HANDLE g_hLogFile;

// Full path of this run's log file: Vimo_LumetUpdate<UTC time>.log in the
// folder Vimo\VimoLumet\Log below the local application-data folder. Creates
// the missing levels of that chain, but none below a link. Empty when the
// application-data folder cannot be found.
std::wstring MakeLogFilePath();

// The same below a given application-data folder; empty when it is empty.
std::wstring MakeLogFilePathIn(const std::wstring& strAppData);

// Opens the log's folder level by level from the drive's root, prunes it
// (PruneOldLogsIn), then creates the log file in it, or opens and empties the
// existing file of that name. When a level of the folder is a link or
// missing, nothing is pruned and no log is opened; when the file's name
// holds a reparse point, no log is opened. Does its work once: while a log
// is open it returns the open handle untouched. Returns g_hLogFile.
HANDLE OpenLog(const wchar_t* pszPath);

void CloseLog();

// Appends the text as UTF-8 and flushes at once. Adds nothing of its own: no
// time stamp, no prefix, no line end. Writes nothing when no log is open.
void WriteLog(const wchar_t* pszText);

// UTF-8 bytes of the text. Returns their count without the terminator (0 when
// the conversion fails); on success pBuffer receives a zero-filled buffer that
// holds the bytes and at least one NUL, even for an empty text.
int WideToUtf8(const wchar_t* pszText, std::unique_ptr<char[]>& pBuffer);
