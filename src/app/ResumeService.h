#pragma once

#include <windows.h>

#include <string>

// The one-shot service that resumes an interrupted update at the next start
// of the machine, whoever signs in, or nobody: registered before the first
// removal of a run (own process, automatic start, LocalSystem), its program
// the updater's copy in the run's folder, "<copy>" /resume {GUID}, and
// deleted when the run is over. Its name is "LumetUpdate-{GUID}".

// Registers the service of the run strGuid, or, where it is there already,
// sets its program and start again. ERROR_SUCCESS, or why not.
DWORD RegisterResumeService(const std::wstring& strGuid, const std::wstring& strUpdaterCopy);

// Deletes it; ERROR_SUCCESS also when it was not there.
DWORD DeleteResumeService(const std::wstring& strGuid);

// Whether this process is the one the service manager started as the
// service of the run strGuid.
bool IsStartedAsResumeService(const std::wstring& strGuid);

// Runs pfnRun(pParam) as the service of the run strGuid, reporting to the
// service manager as a service must: running, then stopped with the code
// pfnRun returns, which is also this function's. A service accepts no
// control: an update cannot be stopped half done.
DWORD RunAsResumeService(const std::wstring& strGuid, DWORD (*pfnRun)(void*), void* pParam);
