// The whole program, LumetUpdate.exe, run from its command line against real
// Windows Installer packages, each case in a fresh Wine prefix.
#include "TestSupport.h"

#include "win/MyRegKey.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>

namespace
{
const std::wstring kUninstall = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kMakerKey[] =
    L"SOFTWARE\\WOW6432Node\\Vimo\\Vimo 2020\\Installer\\Applications\\{5B0E2A91-7C3D-4E6F-8A1B-2C3D4E5F6A7B}";
const std::wstring kInstalled = L"{C0DE0001-5A7E-4C1D-9B2A-000000000001}";
const std::wstring kNew = L"{C0DE0002-5A7E-4C1D-9B2A-000000000002}";
const char kDefaultExe[] = "C:\\Program Files (x86)\\Vimo\\VimoLumet\\VimoLumet.exe";

std::wstring FromUnix(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return L"Z:" + std::wstring(path.begin(), path.end());
}
std::wstring Package(const wchar_t* pszName) { return FromUnix(LUMET_PACKAGES_DIR) + L"\\" + pszName; }

std::wstring ShellFolder(int nCsidl)
{
    wchar_t sz[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, nCsidl, nullptr, SHGFP_TYPE_CURRENT, sz);
    return sz;
}
std::wstring LogFolder() { return ShellFolder(CSIDL_LOCAL_APPDATA) + L"\\Vimo\\VimoLumet\\Log"; }
std::wstring DataFolder() { return ShellFolder(CSIDL_COMMON_APPDATA) + L"\\Vimo\\VimoLumet"; }

// A string value, or "<none>".
std::wstring RegText(HKEY hRoot, const std::wstring& strKey, const wchar_t* pszName)
{
    wchar_t sz[1024] = {};
    DWORD cb = sizeof(sz);
    if (::RegGetValueW(hRoot, strKey.c_str(), pszName, RRF_RT_REG_SZ, nullptr, sz, &cb))
        return L"<none>";
    return sz;
}
bool KeyExists(HKEY hRoot, const std::wstring& strKey) { return CMyRegKey().Open(hRoot, strKey.c_str()) == 0; }
bool Installed(const std::wstring& strCode) { return KeyExists(HKEY_LOCAL_MACHINE, kUninstall + strCode); }

void Msiexec(const std::wstring& strArguments)
{
    ASSERT_EQ(RunAndWait(L"msiexec.exe " + strArguments), 0u) << Utf8(strArguments);
}

// The UTC clock just before and after the updater's run.
SYSTEMTIME g_stStart, g_stEnd;

// Runs the updater and waits for it to close by itself.
bool RunUpdater(const std::wstring& strArguments)
{
    ::GetSystemTime(&g_stStart);
    const DWORD dwExit = RunAndWait(L"\"" + FromUnix(LUMET_UPDATE_EXE) + L"\" " + strArguments, 300000);
    ::GetSystemTime(&g_stEnd);
    return dwExit != static_cast<DWORD>(-1);
}

std::vector<std::wstring> FilesIn(const std::wstring& strPattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW(strPattern.c_str(), &fd);
    for (BOOL b = h != INVALID_HANDLE_VALUE; b; b = ::FindNextFileW(h, &fd))
        if (fd.cFileName[0] != L'.' || fd.cFileName[1] > L'.')
            names.push_back(fd.cFileName);
    if (h != INVALID_HANDLE_VALUE)
        ::FindClose(h);
    return names;
}

// The run's log, whose name holds the UTC time of the run's start.
std::string RunLog()
{
    const std::vector<std::wstring> logs = FilesIn(LogFolder() + L"\\Vimo_LumetUpdate*.log");
    if (logs.size() != 1)
        return "<" + std::to_string(logs.size()) + " logs>";
    const std::wstring strStamp = logs[0].substr(16, 15);
    EXPECT_TRUE(FormatTimeStamp(g_stStart) <= strStamp && strStamp <= FormatTimeStamp(g_stEnd)) << Utf8(logs[0]);
    return ReadBytes(LogFolder() + L"\\" + logs[0]);
}

void Copy(const std::wstring& strFrom, const std::wstring& strTo)
{
    MakeFolders(strTo.substr(0, strTo.rfind(L'\\')));
    ASSERT_TRUE(::CopyFileW(strFrom.c_str(), strTo.c_str(), FALSE)) << Utf8(strFrom);
}

// Vimo Lumet installed in C:\Apps\Vimo\, two listed earlier releases (the
// last listed among them), and the leftovers that the uninstallers miss.
void PrepareInstalledMachine()
{
    const auto listed = ListedProducts();
    ASSERT_EQ(listed.size(), 8u);
    Msiexec(L"/i \"" + Package(L"earlier-1.msi") + L"\" /qn");
    Msiexec(L"/i \"" + Package(L"earlier-7.msi") + L"\" /qn");
    Msiexec(L"/i \"" + Package(L"installed.msi") + L"\" INSTALLDIR=\"C:\\Apps\\Vimo\\\" /qn");
    ASSERT_TRUE(Installed(listed[1].second) && Installed(listed[7].second) && Installed(kInstalled));
    ASSERT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstall + kInstalled, L"InstallLocation"), L"C:\\Apps\\Vimo\\");

    WriteBytes(DataFolder() + L"\\.state", "state");
    WriteBytes(DataFolder() + L"\\cache\\deep\\blob.bin", "blob");
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet\\Recent", L"0", REG_SZ, L"x", 4), 0);
    WriteBytes(L"C:\\users\\Public\\Desktop\\VimoLumet.lnk", "shortcut");
    Copy(Package(L"new.msi"), L"C:\\Temp\\new.msi");
}

TEST(EndToEnd, TypicalUpdate)
{
    PrepareInstalledMachine();
    // Files in the log folder older than 15 days go, at any depth and of any
    // name; younger ones and names beginning with a full stop stay.
    SYSTEMTIME stNow;
    ::GetSystemTime(&stNow);
    const std::pair<const wchar_t*, int> logs[] = {
        {L"Vimo_LumetUpdate20200101_000000.log", 40}, {L"archive\\notes.txt", 17}, {L"young.log", 3}, {L".keep", 90}};
    for (const auto& [pszName, nAgeDays] : logs)
    {
        WriteBytes(LogFolder() + L"\\" + pszName, "old");
        SetLastWriteTime(LogFolder() + L"\\" + pszName, AddSeconds(stNow, -nAgeDays * 86400LL));
    }
    ASSERT_TRUE(RunUpdater(L"C:\\Temp\\new.msi"));
    EXPECT_FALSE(Exists(LogFolder() + L"\\archive\\notes.txt"));
    EXPECT_TRUE(Exists(LogFolder() + L"\\young.log") && Exists(LogFolder() + L"\\.keep"));

    for (const auto& [name, code] : ListedProducts())
        EXPECT_FALSE(Installed(code)) << Utf8(code);
    EXPECT_FALSE(Installed(kInstalled));
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kUninstall + kNew, L"InstallLocation"), L"C:\\Apps\\Vimo\\");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, kMakerKey, L"ProductCode"), kNew);
    EXPECT_TRUE(Exists(L"C:\\Apps\\Vimo\\VimoLumet\\NEW_RELEASE.txt"));
    const std::optional<std::string> started = WaitForFile(L"C:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe.started");
    ASSERT_TRUE(started.has_value()) << "the application was not started";
    EXPECT_NE(started->find("C:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe"), std::string::npos) << *started;

    EXPECT_TRUE(IsFolder(DataFolder()));
    EXPECT_TRUE(FilesIn(DataFolder() + L"\\*").empty());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet"));
    EXPECT_TRUE(Exists(L"C:\\users\\Public\\Desktop\\VimoLumet.lnk")); // recorded, not deleted
    EXPECT_EQ(RunLog(), "Run Lumet\r\nC:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe");
    wchar_t szTemp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, szTemp);
    EXPECT_FALSE(FilesIn(std::wstring(szTemp) + L"VimoLog\\VimoLumet*.log").empty());
}

struct RunCase
{
    const char* name;
    bool bInstalledBefore;
    const wchar_t* installLocation; // replaces the recorded one when given
    const wchar_t* packageAt;       // where the new release is put, if anywhere
    const wchar_t* arguments;       // the updater's command line after its own path
    const wchar_t* newFile;         // a file of the new release where it must land; null: none installed
    std::string log;
};

class EndToEndRun : public ::testing::TestWithParam<RunCase>
{};

TEST_P(EndToEndRun, InstallsAndLaunchesWhereTheCaseSays)
{
    const RunCase& c = GetParam();
    if (c.bInstalledBefore)
        PrepareInstalledMachine();
    if (c.installLocation)
    {
        const std::wstring strLocation = c.installLocation; // may hold quotes: not through reg.exe
        ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (kUninstall + kInstalled).c_str(), L"InstallLocation", REG_SZ,
                                    strLocation.c_str(),
                                    static_cast<DWORD>((strLocation.size() + 1) * sizeof(wchar_t))),
                  0);
    }
    if (c.packageAt)
    {
        Copy(Package(L"new.msi"), c.packageAt);
    }

    ASSERT_TRUE(RunUpdater(c.arguments)) << "the window did not close by itself";
    EXPECT_EQ(RunLog(), c.log);
    EXPECT_EQ(Installed(kNew), c.newFile != nullptr);
    if (c.newFile)
    {
        EXPECT_TRUE(Exists(c.newFile));
    }
}

const char kLogOfAppsVimo[] = "Run Lumet\r\nC:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe";

INSTANTIATE_TEST_SUITE_P(
    Cases, EndToEndRun,
    ::testing::Values(RunCase{"NothingInstalled", false, nullptr, L"C:\\Temp\\new.msi", L"C:\\Temp\\new.msi",
                              L"C:\\Program Files (x86)\\Vimo\\VimoLumet\\NEW_RELEASE.txt",
                              std::string("Run Lumet\r\n") + kDefaultExe},
                      RunCase{"PackagePathWithBlanks", true, nullptr, L"C:\\Temp dir\\Vimo Lumet 4.0.msi",
                              L"\"C:\\Temp dir\\Vimo Lumet 4.0.msi\" second.msi",
                              L"C:\\Apps\\Vimo\\VimoLumet\\NEW_RELEASE.txt", kLogOfAppsVimo},
                      RunCase{"NoArgument", true, nullptr, nullptr, L"", nullptr, kLogOfAppsVimo},
                      RunCase{"InstallLocationWithAQuote", true, L"C:\\Apps\\Vimo\\\" TARGETDIR=\"C:\\Evil\\",
                              L"C:\\Temp\\new.msi", L"C:\\Temp\\new.msi",
                              L"C:\\Program Files (x86)\\Vimo\\VimoLumet\\NEW_RELEASE.txt",
                              std::string("Run Lumet\r\n") + kDefaultExe}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return info.param.name; });

// An installer program at a path with blanks runs itself with the one
// argument /silent, never a program planted where the path has a blank.
TEST(EndToEnd, NonInstallerPackageRunsWithSilentSwitch)
{
    MakeFolders(L"C:\\Setup Files");
    for (const wchar_t* pszPath : {L"C:\\Setup Files\\Vimo Setup.exe", L"C:\\Setup.exe", L"C:\\Setup Files\\Vimo.exe"})
        ASSERT_TRUE(::CopyFileW(FakeAppPath().c_str(), pszPath, FALSE));
    ASSERT_TRUE(RunUpdater(L"\"C:\\Setup Files\\Vimo Setup.exe\""));
    EXPECT_EQ(WaitForFile(L"C:\\Setup Files\\Vimo Setup.exe.started"), "\"C:\\Setup Files\\Vimo Setup.exe\" /silent");
    EXPECT_FALSE(Exists(L"C:\\Setup.exe.started") || Exists(L"C:\\Setup Files\\Vimo.exe.started"));
    EXPECT_FALSE(Installed(kNew));
    EXPECT_EQ(RunLog(), std::string("Run Lumet\r\n") + kDefaultExe);
}

// An MsiExec.exe planted in the current folder, then one beside the updater,
// never runs; the system's does, here a recording stand-in that Wine runs in
// place of its own when told to prefer the native program.
TEST(EndToEnd, PlantedMsiexecNeverRuns)
{
    const std::wstring strSystem = L"C:\\windows\\system32\\msiexec.exe";
    Copy(FakeAppPath(), strSystem);
    ASSERT_EQ(RunAndWait(L"reg.exe add HKCU\\Software\\Wine\\DllOverrides /v msiexec.exe /d native /f"), 0u);
    Copy(FromUnix(LUMET_UPDATE_EXE), L"C:\\Downloads\\LumetUpdate.exe");
    MakeFolders(L"C:\\Work");
    ASSERT_TRUE(::SetCurrentDirectoryW(L"C:\\Work"));
    for (const std::wstring strPlanted : {L"C:\\Work\\MsiExec.exe", L"C:\\Downloads\\MsiExec.exe"})
    {
        Copy(FakeAppPath(), strPlanted);
        ::DeleteFileW((strSystem + L".started").c_str());
        ASSERT_NE(RunAndWait(L"C:\\Downloads\\LumetUpdate.exe C:\\Temp\\new.msi", 300000), static_cast<DWORD>(-1));
        EXPECT_FALSE(Exists(strPlanted + L".started")) << Utf8(strPlanted);
        EXPECT_TRUE(ReadBytes(strSystem + L".started").starts_with("MsiExec.exe /i \"C:\\Temp\\new.msi\" INSTALLDIR="));
    }
}

// Trees as deep as Wine can reach, where anyone may make them, in the data
// folder and in the log folder: the update walks them without recursion and
// runs to its end.
class EndToEndDeepTree : public ::testing::TestWithParam<bool>
{};

TEST_P(EndToEndDeepTree, NeitherCrashesNorStallsTheUpdate)
{
    const bool bDataFolder = GetParam();
    ASSERT_GE(MakeDeepTree((bDataFolder ? DataFolder() : LogFolder()) + L"\\deep", 1800), 1500u);
    Copy(Package(L"new.msi"), L"C:\\Temp\\new.msi");
    ASSERT_TRUE(RunUpdater(L"C:\\Temp\\new.msi"));
    if (bDataFolder)
        EXPECT_TRUE(FilesIn(DataFolder() + L"\\*").empty());
    else
        EXPECT_TRUE(IsFolder(LogFolder() + L"\\deep\\a\\a")); // pruning deletes old files only
    EXPECT_EQ(RunLog(), std::string("Run Lumet\r\n") + kDefaultExe);
}

INSTANTIATE_TEST_SUITE_P(Folders, EndToEndDeepTree, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "DataFolder" : "LogFolder");
});

// HKEY_CURRENT_USER\strKey made a registry link to strTarget, a full
// registry path.
void MakeRegistryLink(const std::wstring& strKey, const std::wstring& strTarget)
{
    HKEY hKey = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, strKey.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &hKey, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegSetValueExW(hKey, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(strTarget.data()),
                               static_cast<DWORD>(strTarget.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ::RegCloseKey(hKey);
}

// What the user can plant before the update: in the data folder a file held
// open for the whole run and one of the updater's own logs; at the per-user
// key, or at the key above it, a link to a key of the machine.
TEST(EndToEnd, PlantedFilesAndRegistryLinksDoNotRedirectTheCleanUp)
{
    const std::wstring strVictim = L"SOFTWARE\\LumetVictim";
    for (const std::wstring strLink : {L"Software\\Vimo\\Lumet", L"Software\\Vimo"})
    {
        ASSERT_EQ(
            ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (strVictim + L"\\Lumet\\Recent").c_str(), L"0", REG_SZ, L"x", 4), 0);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Vimo");
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vimo");
        MakeRegistryLink(strLink,
                         L"\\Registry\\Machine\\" + strVictim + (strLink.ends_with(L"Lumet") ? L"\\Lumet" : L""));
        WriteBytes(DataFolder() + L"\\Log\\VimoLog_LumetUpdate_1.log", "protected");
        WriteBytes(DataFolder() + L"\\Log\\other.log", "other");
        WriteBytes(DataFolder() + L"\\cache\\deep\\blob.bin", "blob");
        WriteBytes(DataFolder() + L"\\locked.dat", "locked");
        std::filesystem::remove_all(LogFolder());
        HANDLE hLocked = ::CreateFileW((DataFolder() + L"\\locked.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr); // no FILE_SHARE_DELETE, for the whole run
        const bool bEnded = RunUpdater(L"");
        ::CloseHandle(hLocked);
        ASSERT_TRUE(bEnded);

        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, strVictim + L"\\Lumet\\Recent")) << Utf8(strLink);
        // A link at the key is deleted as a link; one above it is left alone.
        EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet"), strLink.ends_with(L"Vimo")) << Utf8(strLink);
        EXPECT_TRUE(Exists(DataFolder() + L"\\locked.dat"));
        EXPECT_TRUE(Exists(DataFolder() + L"\\Log\\VimoLog_LumetUpdate_1.log"));
        EXPECT_FALSE(Exists(DataFolder() + L"\\Log\\other.log"));
        EXPECT_FALSE(Exists(DataFolder() + L"\\cache"));
        EXPECT_TRUE(PendingDeletions().empty());
        EXPECT_EQ(RunLog(), "Left in place: " + Utf8(DataFolder()) + "\\locked.dat\r\nRun Lumet\r\n" + kDefaultExe);
    }
}
}
