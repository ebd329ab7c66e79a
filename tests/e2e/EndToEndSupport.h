#pragma once

// What the end-to-end tests share: the packages, a machine with a release
// installed, the updater run from its command line, and what it leaves.
#include "TestSupport.h"

#include "win/Com.h"
#include "win/KnownFolders.h"
#include "win/MyRegKey.h"

#include <exdisp.h>
#include <gtest/gtest.h>
#include <msi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

inline const std::wstring kUninstall = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline const wchar_t kMakerKey[] =
    L"SOFTWARE\\WOW6432Node\\Vimo\\Vimo 2020\\Installer\\Applications\\{5B0E2A91-7C3D-4E6F-8A1B-2C3D4E5F6A7B}";
inline const std::wstring kInstalled = L"{C0DE0001-5A7E-4C1D-9B2A-000000000001}";
inline const std::wstring kNew = L"{C0DE0002-5A7E-4C1D-9B2A-000000000002}";
inline const char kDefaultExe[] = "C:\\Program Files (x86)\\Vimo\\VimoLumet\\VimoLumet.exe";
inline const std::wstring kRunsKey = L"SOFTWARE\\Vimo\\LumetUpdate\\Runs";
inline const std::wstring kKeptKey = L"SOFTWARE\\Vimo\\LumetUpdate\\Kept";
inline const std::wstring kServices = L"System\\CurrentControlSet\\Services";

inline std::wstring Package(const wchar_t* pszName) { return FromUnix(LUMET_PACKAGES_DIR) + L"\\" + pszName; }
inline std::wstring Fixture(const wchar_t* pszName) { return FromUnix(LUMET_CHECK_PACKAGES_DIR) + L"\\" + pszName; }

inline std::wstring LogFolder() { return GetShellFolder(CSIDL_LOCAL_APPDATA) + L"\\Vimo\\VimoLumet\\Log"; }
inline std::wstring DataFolder() { return GetShellFolder(CSIDL_COMMON_APPDATA) + L"\\Vimo\\VimoLumet"; }
inline std::wstring CacheFolder() { return GetShellFolder(CSIDL_COMMON_APPDATA) + L"\\LumetUpdate"; }

// A string value, or "<none>".
inline std::wstring RegText(HKEY hRoot, const std::wstring& strKey, const wchar_t* pszName)
{
    CMyRegKey key;
    std::wstring value = L"<none>";
    if (key.Open(hRoot, strKey.c_str()) == ERROR_SUCCESS)
        key.QueryStringValue(pszName, value);
    return value;
}
inline bool KeyExists(HKEY hRoot, const std::wstring& strKey) { return CMyRegKey().Open(hRoot, strKey.c_str()) == 0; }
inline bool Installed(const std::wstring& strCode) { return KeyExists(HKEY_LOCAL_MACHINE, kUninstall + strCode); }

inline std::vector<std::wstring> SubKeys(const std::wstring& strKey)
{
    CMyRegKey key;
    key.Open(HKEY_LOCAL_MACHINE, strKey.c_str());
    return key.SubKeyNames();
}

inline void SetInstalledValue(const wchar_t* pszName, const std::wstring& value)
{
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kUninstall + kInstalled).c_str(), pszName, REG_SZ, value.c_str(),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              0);
}

inline void Msiexec(const std::wstring& strArguments)
{
    ASSERT_EQ(RunAndWait(L"msiexec.exe " + strArguments), 0u) << Utf8(strArguments);
}

// The UTC clock just before and after the updater's run.
inline SYSTEMTIME g_stStart, g_stEnd;
inline const DWORD kNotEnded = static_cast<DWORD>(-1);

// Runs the updater (the one built, or strUpdater); its exit code, or kNotEnded.
inline DWORD RunUpdater(const std::wstring& strArguments, const std::wstring& strUpdater = FromUnix(LUMET_UPDATE_EXE))
{
    ::GetSystemTime(&g_stStart);
    const DWORD dwExit = RunAndWait(L"\"" + strUpdater + L"\" " + strArguments, 300000);
    ::GetSystemTime(&g_stEnd);
    return dwExit;
}

// The newest run's log name, which holds its UTC start; empty when none.
inline std::wstring NewestLogName()
{
    std::vector<std::wstring> logs = FilesIn(LogFolder() + L"\\Vimo_LumetUpdate*.log");
    std::sort(logs.begin(), logs.end());
    return logs.empty() ? std::wstring() : logs.back();
}

inline const char kShellSilent[] = "\r\nApplication not started: the desktop shell does not answer\r\n";

// The log of the run that RunUpdater ran; read as if the desktop's shell had
// answered (in a few new prefixes on a loaded machine it never does) unless
// bShellMatters.
inline std::string RunLog(bool bShellMatters = false)
{
    const std::wstring strName = NewestLogName();
    if (strName.empty())
        return "<no log>";
    const std::wstring strStamp = strName.substr(16, 15);
    EXPECT_TRUE(FormatTimeStamp(g_stStart) <= strStamp && strStamp <= FormatTimeStamp(g_stEnd)) << Utf8(strName);
    std::string log = ReadBytes(LogFolder() + L"\\" + strName);
    if (!bShellMatters && log.ends_with(kShellSilent))
        log.resize(log.size() - std::strlen(kShellSilent));
    return log;
}

inline const char kUnsigned[] = "No publisher checked: this updater is not signed.\r\n";
inline const char kNothingToRestore[] = "No restore package: no installed release that the Windows Installer knows\r\n";

// The package of a product kept in the cache, as its record names it.
inline std::wstring KeptPackage(const std::wstring& strCode)
{
    return CacheFolder() + L"\\" + RegText(HKEY_LOCAL_MACHINE, kKeptKey + L"\\" + strCode, L"Path");
}
inline std::string KeptRestore() { return "Restore package: " + Utf8(KeptPackage(kNew)) + "\r\n"; }

// An unsigned updater's log up to the removals, with or without the release
// PrepareInstalledMachine installs; then with the application at strExe run.
inline std::string LogOfChecks(bool bInstalledBefore = true)
{
    return kUnsigned + (bInstalledBefore
                            ? "Restore package: " + Utf8(Package(L"installed.msi")) + "\r\n"
                            : "Release not compared: no installed release that the Windows Installer knows\r\n" +
                                  std::string(kNothingToRestore));
}
inline std::string LogOfLaunch(const std::string& strExe, bool bInstalledBefore = true)
{
    return LogOfChecks(bInstalledBefore) + "Run Lumet\r\n" + strExe;
}

// Where the installer's logs go, in the user's temporary folder.
inline std::wstring InstallerLogs() { return _wgetenv(L"TEMP") + std::wstring(L"\\VimoLog"); }

inline bool InRunFolder(const std::string& path)
{
    return _strnicmp(path.c_str(), "C:\\ProgramData\\LumetUpdate\\Runs\\{", 33) == 0;
}

// Whether the desktop's shell answers, as in a signed-in session; under Wine
// on a loaded machine about one new prefix in fifty never has it answer.
inline bool DesktopShellAnswers()
{
    const CComInit com;
    if (!com.IsUsable())
        return false;
    for (int nTry = 0; nTry < 20; ++nTry)
    {
        ::GetDesktopWindow();
        CComPtrT<IShellWindows> pWindows;
        if (SUCCEEDED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                         reinterpret_cast<void**>(pWindows.Put()))) &&
            pWindows)
            return true;
        ::Sleep(250);
    }
    return false;
}

inline void Copy(const std::wstring& strFrom, const std::wstring& strTo)
{
    MakeFolders(strTo.substr(0, strTo.rfind(L'\\')));
    ASSERT_TRUE(::CopyFileW(strFrom.c_str(), strTo.c_str(), FALSE)) << Utf8(strFrom);
}

// Vimo Lumet installed in C:\Apps\Vimo\, two listed earlier releases, the
// leftovers that the uninstallers miss, and the new package at C:\Temp\new.msi.
inline void PrepareInstalledMachine()
{
    const auto listed = ListedProducts();
    ASSERT_EQ(listed.size(), 8u);
    Msiexec(L"/i \"" + Package(L"earlier-1.msi") + L"\" /qn");
    Msiexec(L"/i \"" + Package(L"earlier-7.msi") + L"\" /qn");
    Msiexec(L"/i \"" + Package(L"installed.msi") + L"\" INSTALLDIR=\"C:\\Apps\\Vimo\\\" /qn");
    ASSERT_TRUE(Installed(listed[1].second) && Installed(listed[7].second) && Installed(kInstalled));

    WriteBytes(DataFolder() + L"\\.state", "state");
    WriteBytes(DataFolder() + L"\\cache\\deep\\blob.bin", "blob");
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet\\Recent", L"0", REG_SZ, L"x", 4), 0);
    WriteBytes(L"C:\\users\\Public\\Desktop\\VimoLumet.lnk", "shortcut");
    Copy(Package(L"new.msi"), L"C:\\Temp\\new.msi");
}

// The resume service of the run strGuid stands, as the registry holds it for
// the next start: the run's copy of the updater, started at boot in a process
// of its own, as LocalSystem.
inline void ExpectTheServiceStands(const std::wstring& strGuid)
{
    const std::wstring strKey = kServices + L"\\LumetUpdate-" + strGuid;
    DWORD dwStart = 0, dwType = 0, cb = sizeof(DWORD);
    ::RegGetValueW(HKEY_LOCAL_MACHINE, strKey.c_str(), L"Start", RRF_RT_REG_DWORD, nullptr, &dwStart, &cb);
    ::RegGetValueW(HKEY_LOCAL_MACHINE, strKey.c_str(), L"Type", RRF_RT_REG_DWORD, nullptr, &dwType, &cb);
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, strKey, L"ImagePath") + L" start " + std::to_wstring(dwStart) + L" type " +
                  std::to_wstring(dwType) + L" as " + RegText(HKEY_LOCAL_MACHINE, strKey, L"ObjectName"),
              L"\"" + CacheFolder() + L"\\Runs\\" + strGuid + L"\\LumetUpdate.exe\" /resume " + strGuid +
                  L" start 2 type 16 as LocalSystem");
}

inline std::vector<std::wstring> ResumeServices()
{
    std::vector<std::wstring> names = SubKeys(kServices);
    std::erase_if(names, [](const std::wstring& strName) { return _wcsnicmp(strName.c_str(), L"LumetUpdate-", 12); });
    return names;
}

// Nothing is left for a later start: no run's record, no resume service.
inline void ExpectNothingToResume()
{
    EXPECT_EQ(SubKeys(kRunsKey), std::vector<std::wstring>{});
    EXPECT_EQ(ResumeServices(), std::vector<std::wstring>{});
}

// What an ended run leaves: nothing to resume, one run folder holding only a
// whole copy of strCode's package at strFolder\pszPackage, kept. The folder.
inline std::string ExpectTheRunEnded(const std::wstring& strCode, const std::wstring& strFolder,
                                     const wchar_t* pszPackage)
{
    ExpectNothingToResume();
    EXPECT_EQ(SubKeys(kKeptKey), std::vector<std::wstring>{strCode});
    const std::vector<std::wstring> runs = FilesIn(CacheFolder() + L"\\Runs\\*");
    EXPECT_EQ(runs.size(), 1u);
    if (runs.size() != 1)
        return "<none>";
    const std::wstring strRun = CacheFolder() + L"\\Runs\\" + runs[0];
    EXPECT_EQ(FilesIn(strRun + L"\\*"), std::vector<std::wstring>{strFolder});
    EXPECT_EQ(FilesIn(strRun + L"\\" + strFolder + L"\\*"), std::vector<std::wstring>{pszPackage});
    EXPECT_EQ(KeptPackage(strCode), strRun + L"\\" + strFolder + L"\\" + pszPackage);
    EXPECT_TRUE(ReadBytes(KeptPackage(strCode)) == ReadBytes(Package(pszPackage)));
    return Utf8(strRun);
}
