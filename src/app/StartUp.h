#pragma once

#include <string>

// The process from start to end: start-up prepares the process, COM, the log,
// the message table and the package path, runs the progress window modally
// (the whole update happens inside it), and shutdown releases what start-up
// made, in the reverse order. pszCommandLine is the process's command line.
// Returns the process's exit code, the update's (CUpdateRun::Finish).
int RunLumetUpdate(const wchar_t* pszCommandLine);

// From here on the process loads DLLs named without a path from the system
// folder only.
void RestrictDllSearchToSystemFolder();

// The package path: the first argument after the program's own path, as the
// system splits command lines; empty when there is none.
std::wstring GetPackagePathFromCommandLine(const wchar_t* pszCommandLine);
