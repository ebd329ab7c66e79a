#pragma once

// What the end-to-end tests share: the packages and fixtures the tests build,
// the machine with a release installed, the updater run from its command line
// and what it leaves (its log, the installer's records), each in the Wine
// prefix the test program runs in.
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

inline std::wstring Package(const wchar_t* pszName) { return FromUnix(LUMET_PACKAGES_DIR) + L"\\" + pszName; }
inline std::wstring Fixture(const wchar_t* pszName) { return FromUnix(LUMET_CHECK_PACKAGES_DIR) + L"\\" + pszName; }

inline std::wstring LogFolder() { return GetShellFolder(CSIDL_LOCAL_APPDATA) + L"\\Vimo\\VimoLumet\\Log"; }
inline std::wstring DataFolder() { return GetShellFolder(CSIDL_COMMON_APPDATA) + L"\\Vimo\\VimoLumet"; }

// A string value, or "<none>".
inline std::wstring RegText(HKEY hRoot, const std::wstring& strKey, const wchar_t* pszName)
{
    wchar_t sz[1024] = {};
    DWORD cb = sizeof(sz);
    if (::RegGetValueW(hRoot, strKey.c_str(), pszName, RRF_RT_REG_SZ, nullptr, sz, &cb))
        return L"<none>";
    return sz;
}
inline bool KeyExists(HKEY hRoot, const std::wstring& strKey) { return CMyRegKey().Open(hRoot, strKey.c_str()) == 0; }
inline bool Installed(const std::wstring& strCode) { return KeyExists(HKEY_LOCAL_MACHINE, kUninstall + strCode); }

inline void Msiexec(const std::wstring& strArguments)
{
    ASSERT_EQ(RunAndWait(L"msiexec.exe " + strArguments), 0u) << Utf8(strArguments);
}

// The UTC clock just before and after the updater's run.
inline SYSTEMTIME g_stStart, g_stEnd;
inline const DWORD kNotEnded = static_cast<DWORD>(-1);

// Runs the updater (the one built, or strUpdater) and waits for it to close
// by itself; its exit code, or kNotEnded.
inline DWORD RunUpdater(const std::wstring& strArguments, const std::wstring& strUpdater = FromUnix(LUMET_UPDATE_EXE))
{
    ::GetSystemTime(&g_stStart);
    const DWORD dwExit = RunAndWait(L"\"" + strUpdater + L"\" " + strArguments, 300000);
    ::GetSystemTime(&g_stEnd);
    return dwExit;
}

// The name of the newest run's log, which holds the UTC time of its start;
// empty when there is none.
inline std::wstring NewestLogName()
{
    std::vector<std::wstring> logs = FilesIn(LogFolder() + L"\\Vimo_LumetUpdate*.log");
    std::sort(logs.begin(), logs.end());
    return logs.empty() ? std::wstring() : logs.back();
}

inline const char kShellSilent[] = "\r\nApplication not started: the desktop shell does not answer\r\n";

// The log of the run that RunUpdater ran. The desktop's shell was seen, in a
// few new Wine prefixes on a loaded machine, never to answer, and then the
// application is not started: unless a test is about that (bShellMatters),
// its log is read as if the shell had answered.
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
inline const char kNothingToCompare[] =
    "Release not compared: no installed release that the Windows Installer knows\r\n";
inline const char kNothingToRestore[] = "No restore package: no installed release that the Windows Installer knows\r\n";
inline const char kNoWholePackage[] =
    "No restore package: no whole package of the installed release passes the checks\r\n";

// The restore package of the release that PrepareInstalledMachine installs:
// its own install source.
inline std::string RestoreFromSource() { return "Restore package: " + Utf8(Package(L"installed.msi")) + "\r\n"; }

// The package cache, and the package of a product kept in it, as its record
// names it ("<none>" where none is kept).
inline std::wstring CacheFolder() { return GetShellFolder(CSIDL_COMMON_APPDATA) + L"\\LumetUpdate"; }
inline const std::wstring kKeptKey = L"SOFTWARE\\Vimo\\LumetUpdate\\Kept\\";
inline std::wstring KeptPackage(const std::wstring& strCode)
{
    return CacheFolder() + L"\\" + RegText(HKEY_LOCAL_MACHINE, kKeptKey + strCode, L"Path");
}

// The restore package that the first update kept of the new release.
inline std::string KeptRestore() { return "Restore package: " + Utf8(KeptPackage(kNew)) + "\r\n"; }

// The log of an unsigned updater's run up to the removals: with the release
// PrepareInstalledMachine installs, or none.
inline std::string LogOfChecks(bool bInstalledBefore = true)
{
    return kUnsigned + (bInstalledBefore ? RestoreFromSource() : std::string(kNothingToCompare) + kNothingToRestore);
}

// The log of an unsigned updater's run that launched the application at
// strExe.
inline std::string LogOfLaunch(const std::string& strExe, bool bInstalledBefore = true)
{
    return LogOfChecks(bInstalledBefore) + "Run Lumet\r\n" + strExe;
}

inline std::wstring TempFolder()
{
    wchar_t szTemp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    return szTemp;
}

// Whether path lies in a run's own folder, in the package cache.
inline bool InRunFolder(std::string path)
{
    std::transform(path.begin(), path.end(), path.begin(),
                   [](char ch) { return ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch; });
    return path.starts_with("c:\\programdata\\lumetupdate\\runs\\{");
}

// Whether the desktop's shell answers, as it does in a signed-in session long
// before an update starts. Under Wine the shell is started by the first
// process that needs the desktop; on a loaded machine it was seen, in about
// one prefix in fifty, never to register its window list, and then the
// application is not started.
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

// Vimo Lumet installed in C:\Apps\Vimo\ (from strSource), two listed
// earlier releases (the last listed among them), and the leftovers that the
// uninstallers miss.
inline void PrepareInstalledMachine(const std::wstring& strSource = Package(L"installed.msi"))
{
    const auto listed = ListedProducts();
    ASSERT_EQ(listed.size(), 8u);
    Msiexec(L"/i \"" + Package(L"earlier-1.msi") + L"\" /qn");
    Msiexec(L"/i \"" + Package(L"earlier-7.msi") + L"\" /qn");
    Msiexec(L"/i \"" + strSource + L"\" INSTALLDIR=\"C:\\Apps\\Vimo\\\" /qn");
    ASSERT_TRUE(Installed(listed[1].second) && Installed(listed[7].second) && Installed(kInstalled));
    ASSERT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstall + kInstalled, L"InstallLocation"), L"C:\\Apps\\Vimo\\");

    WriteBytes(DataFolder() + L"\\.state", "state");
    WriteBytes(DataFolder() + L"\\cache\\deep\\blob.bin", "blob");
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet\\Recent", L"0", REG_SZ, L"x", 4), 0);
    WriteBytes(L"C:\\users\\Public\\Desktop\\VimoLumet.lnk", "shortcut");
    Copy(Package(L"new.msi"), L"C:\\Temp\\new.msi");
}

// Nothing of the machine prepared above was removed or run.
inline void ExpectNothingRemovedOrRun()
{
    const auto listed = ListedProducts();
    EXPECT_TRUE(Installed(listed[1].second) && Installed(listed[7].second) && Installed(kInstalled));
    EXPECT_EQ(ReadBytes(DataFolder() + L"\\.state"), "state");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet"));
    EXPECT_FALSE(Installed(kNew));
    EXPECT_TRUE(FakeRuns().empty());
    EXPECT_TRUE(FilesIn(TempFolder() + L"VimoLog\\*").empty());
}

// Puts strStripped, a package without its cabinets, in place of the installed
// product's package that the Windows Installer keeps, as Windows keeps it.
inline void StripCachedPackage(const std::wstring& strCode, const wchar_t* pszStripped)
{
    wchar_t szCached[MAX_PATH] = {};
    DWORD cch = MAX_PATH;
    ASSERT_EQ(::MsiGetProductInfoW(strCode.c_str(), L"LocalPackage", szCached, &cch), 0u);
    ASSERT_TRUE(::CopyFileW(Package(pszStripped).c_str(), szCached, FALSE)) << Utf8(szCached);
}
