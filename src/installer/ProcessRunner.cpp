#include "installer/ProcessRunner.h"

#include "win/ScopedHandle.h"

#include <vector>

PfnRunCommandLine g_pfnRunCommandLine = &RunCommandLine;

namespace
{
constexpr size_t kMaxCommandLine = 32767; // characters, terminator included
}

bool RunCommandLine(const std::wstring& strApplication, const std::wstring& strCommandLine)
{
    if (strCommandLine.size() + 1 > kMaxCommandLine)
        return false;

    // CreateProcessW may write into the command line, so it gets a copy.
    std::vector<wchar_t> buffer(strCommandLine.begin(), strCommandLine.end());
    buffer.push_back(L'\0');

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    // No handles are inherited; the child gets this process's environment and
    // current folder.
    const wchar_t* pszApplication = strApplication.empty() ? nullptr : strApplication.c_str();
    if (!::CreateProcessW(pszApplication, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;

    // Declared in this order so that the process handle is closed first.
    CHandle hThread(pi.hThread);
    CHandle hProcess(pi.hProcess);
    ::WaitForSingleObject(hProcess.Get(), INFINITE);
    return true;
}
