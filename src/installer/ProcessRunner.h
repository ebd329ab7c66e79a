#pragma once

#include <string>

// Starts a command line as a child process and waits, without time-out, until
// it ends. Returns whether a process was started; its exit code is never
// looked at. A command line longer than the platform's limit (32,767
// characters with the terminator) is not run at all.
bool RunCommandLine(const std::wstring& strCommandLine);

// The runner every installer operation goes through. Tests replace it to see
// each command exactly as it would be run; the program keeps RunCommandLine.
using PfnRunCommandLine = bool (*)(const std::wstring& strCommandLine);
extern PfnRunCommandLine g_pfnRunCommandLine;
