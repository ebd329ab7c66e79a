#pragma once

#include <windows.h>

#include <string>

// A program the update starts: the program by its full path, the command
// line it gets (its first word is only the name the program sees itself
// called by), the folder it starts in, and its environment block (for
// CREATE_UNICODE_ENVIRONMENT; empty: this process's own).
struct ChildProgram
{
    std::wstring strApplication;
    std::wstring strCommandLine;
    std::wstring strFolder;
    std::wstring strEnvironment;
};

// Starts the program and waits, without time-out, until it ends; no handle
// is inherited. ERROR_SUCCESS with the program's exit code in dwExitCode, or
// why it could not be started (dwExitCode untouched). A command line longer
// than the platform's limit (32,767 characters with the terminator) is not
// run at all.
DWORD RunCommandLine(const ChildProgram& program, DWORD& dwExitCode);

// The runner every installer operation goes through. Tests replace it to see
// each run exactly as it would be started; the program keeps RunCommandLine.
using PfnRunCommandLine = DWORD (*)(const ChildProgram& program, DWORD& dwExitCode);
extern PfnRunCommandLine g_pfnRunCommandLine;
