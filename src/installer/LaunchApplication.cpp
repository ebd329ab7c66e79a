#include "installer/LaunchApplication.h"

#include "installer/ProductDiscovery.h"
#include "log/Log.h"
#include "win/KnownFolders.h"
#include "win/ScopedHandle.h"
#include "win/ShellLaunch.h"
#include "win/SystemEnvironment.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

namespace
{
constexpr wchar_t kApplicationFolder[] = L"\\VimoLumet";
constexpr wchar_t kApplicationName[] = L"\\VimoLumet.exe";

// The user's own folders and name, which the application expects, over the
// machine's environment.
std::vector<CVariable> ProfileVariables()
{
    const std::wstring strProfile = GetShellFolder(CSIDL_PROFILE);
    const std::wstring strLocal = GetShellFolder(CSIDL_LOCAL_APPDATA);
    wchar_t szUser[257] = {};
    DWORD cchUser = 257;
    ::GetUserNameW(szUser, &cchUser);
    std::vector<CVariable> vecVariables = {{L"APPDATA", GetShellFolder(CSIDL_APPDATA)},
                                           {L"LOCALAPPDATA", strLocal},
                                           {L"TEMP", strLocal + L"\\Temp"},
                                           {L"TMP", strLocal + L"\\Temp"},
                                           {L"USERNAME", szUser},
                                           {L"USERPROFILE", strProfile}};
    if (strProfile.size() > 2)
    {
        vecVariables.emplace_back(L"HOMEDRIVE", strProfile.substr(0, 2));
        vecVariables.emplace_back(L"HOMEPATH", strProfile.substr(2));
    }
    return vecVariables;
}
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

    // The desktop's shell runs it with the user's own rights; where there is
    // no such shell to ask, it runs with the updater's.
    if (StartThroughDesktopShell(strPath, strFolder))
        return;
    std::wstring strEnvironment = MakeMachineEnvironmentBlock(ProfileVariables());
    std::wstring strCommandLine = L"\"" + strPath + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!strEnvironment.empty() &&
        ::CreateProcessW(strPath.c_str(), strCommandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                         strEnvironment.data(), strFolder.c_str(), &si, &pi))
    {
        // Not waited for: the update is over.
        const CHandle hThread(pi.hThread);
        const CHandle hProcess(pi.hProcess);
    }
}
