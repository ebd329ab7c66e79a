#include "installer/ProcessRunner.h"

#include "win/ScopedHandle.h"

#include <vector>

PfnRunCommandLine g_pfnRunCommandLine = &RunCommandLine;

namespace
{
constexpr size_t kMaxCommandLine = 32767; // characters, terminator included
}

DWORD RunCommandLine(const ChildProgram& program, DWORD& dwExitCode)
{
    if (program.strCommandLine.size() + 1 > kMaxCommandLine)
        return ERROR_FILENAME_EXCED_RANGE;

    // CreateProcessW may write into the command line and the environment,
    // so they are copies.
    std::vector<wchar_t> commandLine(program.strCommandLine.begin(), program.strCommandLine.end());
    commandLine.push_back(L'\0');
    std::vector<wchar_t> environment(program.strEnvironment.begin(), program.strEnvironment.end());

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(program.strApplication.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_UNICODE_ENVIRONMENT, environment.empty() ? nullptr : environment.data(),
                          program.strFolder.empty() ? nullptr : program.strFolder.c_str(), &si, &pi))
        return ::GetLastError();

    // Declared in this order so that the process handle is closed first.
    const CHandle hThread(pi.hThread);
    const CHandle hProcess(pi.hProcess);
    ::WaitForSingleObject(hProcess.Get(), INFINITE);
    DWORD dwCode = 0;
    if (!::GetExitCodeProcess(hProcess.Get(), &dwCode))
        return ::GetLastError();
    dwExitCode = dwCode;
    return ERROR_SUCCESS;
}
