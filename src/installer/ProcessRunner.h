#pragma once

#include <string>

// Starts a child process and waits, without time-out, until it ends. Returns
// whether a process was started; its exit code is never looked at. A command
// line longer than the platform's limit (32,767 characters with the
// terminator) is not run at all.
//
// strApplication is the program to start, by its full path; the command line
// reaches it as it is, and its first word is only the name the program sees
// itself called by. An empty strApplication leaves the choice to the first
// word, found by the system's search, which looks beside this program and in
// the current folder before the system folder.
bool RunCommandLine(const std::wstring& strApplication, const std::wstring& strCommandLine);

// The runner every installer operation goes through. Tests replace it to see
// each run exactly as it would be started; the program keeps RunCommandLine.
using PfnRunCommandLine = bool (*)(const std::wstring& strApplication, const std::wstring& strCommandLine);
extern PfnRunCommandLine g_pfnRunCommandLine;
