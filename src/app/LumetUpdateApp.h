#pragma once

#include <windows.h>

#include <string>

// The process: start-up prepares COM, the log, the message table and the
// package path, runs the progress dialog modally (the whole update happens
// inside it), and shutdown releases what start-up made.
class CLumetUpdateApp
{
public:
    // Always FALSE: the program has no message loop of its own.
    BOOL InitInstance();
    int ExitInstance();

private:
    HRESULT m_hrCom = E_FAIL;
};

extern CLumetUpdateApp theApp;

// From here on the process loads DLLs named without a path from the system
// folder only. Start-up calls it first.
void RestrictDllSearchToSystemFolder();

// The package path: the first argument after the program's own path, as the
// system splits command lines; empty when there is none.
std::wstring GetPackagePathFromCommandLine(const wchar_t* pszCommandLine);
