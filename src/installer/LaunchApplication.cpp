#include "installer/LaunchApplication.h"

#include "log/Log.h"

#include <windows.h>
#include <shellapi.h>

namespace
{
constexpr wchar_t kDefaultExecutable[] = L"C:\\Program Files (x86)\\Vimo\\VimoLumet\\VimoLumet.exe";
constexpr wchar_t kRelativeExecutable[] = L"VimoLumet\\VimoLumet.exe";
}

void LaunchApplication(const std::wstring& strInstallDir)
{
    // The install folder is expected to end with a backslash; it is joined
    // as it is, so the log shows exactly which path was tried.
    const std::wstring strPath =
        strInstallDir.empty() ? std::wstring(kDefaultExecutable) : strInstallDir + kRelativeExecutable;
    WriteLog(L"Run Lumet\r\n");
    WriteLog(strPath);
    // Not waited for, and a failure shows nothing: the update is over.
    ::ShellExecuteW(nullptr, L"open", strPath.c_str(), nullptr, nullptr, SW_SHOW);
}
