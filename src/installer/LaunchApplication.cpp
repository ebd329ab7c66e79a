#include "installer/LaunchApplication.h"

#include "installer/ProductDiscovery.h"
#include "log/Log.h"
#include "win/ShellLaunch.h"

#include <windows.h>

namespace
{
constexpr wchar_t kApplicationFolder[] = L"\\VimoLumet";
constexpr wchar_t kApplicationName[] = L"\\VimoLumet.exe";
// How long the desktop's shell may take to answer: at sign-in, and when a
// resumed update runs, it may still be starting.
constexpr ULONGLONG kShellWaitMs = 8000;
constexpr DWORD kShellRetryMs = 250;
}

void LaunchApplication(const std::wstring& strInstallDir)
{
    std::wstring strFolder = strInstallDir.empty() ? std::wstring(kDefaultInstallDir) : strInstallDir;
    while (strFolder.ends_with(L'\\'))
        strFolder.pop_back();
    strFolder += kApplicationFolder;
    const std::wstring strPath = strFolder + kApplicationName;
    WriteLog(L"Run Lumet\r\n");
    WriteLog(strPath);

    // Only the desktop's shell starts it, so that it runs as the signed-in
    // user. Started by the updater itself it would run with the updater's
    // rights, and whether the shell answers is up to any of the user's
    // processes.
    for (const ULONGLONG tEnd = ::GetTickCount64() + kShellWaitMs;; ::Sleep(kShellRetryMs))
    {
        if (StartThroughDesktopShell(strPath, strFolder))
            return;
        if (::GetTickCount64() >= tEnd)
            break;
    }
    WriteLog(L"\r\nApplication not started: the desktop shell does not answer\r\n");
}
