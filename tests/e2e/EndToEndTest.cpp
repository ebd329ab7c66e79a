// The whole program, LumetUpdate.exe, run from its command line against real
// Windows Installer packages in a fresh Wine prefix per case.
#include "TestSupport.h"

#include "resources/resource.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <regex>
#include <vector>

namespace
{
const wchar_t kUninstallRoot[] = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const wchar_t kMakerKey[] =
    L"SOFTWARE\\WOW6432Node\\Vimo\\Vimo 2020\\Installer\\Applications\\{5B0E2A91-7C3D-4E6F-8A1B-2C3D4E5F6A7B}";
const wchar_t kInstalledCode[] = L"{C0DE0001-5A7E-4C1D-9B2A-000000000001}";
const wchar_t kNewCode[] = L"{C0DE0002-5A7E-4C1D-9B2A-000000000002}";
const wchar_t kDefaultExe[] = L"C:\\Program Files (x86)\\Vimo\\VimoLumet\\VimoLumet.exe";

std::wstring WindowsPathOfUnix(const char* pszUnixPath)
{
    std::string unix(pszUnixPath);
    std::wstring result = L"Z:";
    for (char ch : unix)
        result += ch == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(ch));
    return result;
}

std::wstring UpdaterExe() { return WindowsPathOfUnix(LUMET_UPDATE_EXE); }
std::wstring Package(const std::wstring& strName) { return WindowsPathOfUnix(LUMET_PACKAGES_DIR) + L"\\" + strName; }

std::wstring ShellFolder(int nCsidl)
{
    wchar_t sz[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, nCsidl, nullptr, SHGFP_TYPE_CURRENT, sz);
    return sz;
}

std::wstring TempFolder()
{
    wchar_t sz[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, sz);
    return sz;
}

std::wstring LogFolder() { return ShellFolder(CSIDL_LOCAL_APPDATA) + L"\\Vimo\\VimoLumet\\Log"; }
std::wstring DataFolder() { return ShellFolder(CSIDL_COMMON_APPDATA) + L"\\Vimo\\VimoLumet"; }

bool KeyExists(HKEY hRoot, const std::wstring& strPath)
{
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(hRoot, strPath.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(hKey);
    return true;
}

std::wstring RegString(HKEY hRoot, const std::wstring& strPath, const wchar_t* pszName)
{
    wchar_t sz[1024] = {};
    DWORD cb = sizeof(sz) - sizeof(wchar_t);
    if (::RegGetValueW(hRoot, strPath.c_str(), pszName, RRF_RT_REG_SZ | RRF_NOEXPAND | RRF_RT_REG_EXPAND_SZ, nullptr, sz, &cb) !=
        ERROR_SUCCESS)
        return L"<none>";
    return sz;
}

void SetRegString(HKEY hRoot, const std::wstring& strPath, const wchar_t* pszName, const std::wstring& strValue)
{
    HKEY hKey = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(hRoot, strPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr), ERROR_SUCCESS);
    ::RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(strValue.c_str()),
                     static_cast<DWORD>((strValue.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(hKey);
}

bool Installed(const std::wstring& strCode) { return KeyExists(HKEY_LOCAL_MACHINE, kUninstallRoot + strCode); }

// The eight listed product codes, read from the program's own document.
std::vector<std::wstring> ListedCodes()
{
    const std::string bytes = ResourceBytes(IDR_XML_PRODUCTS);
    const std::regex product("<Product Name=\"[^\"]*\">([^<]*)</Product>");
    std::vector<std::wstring> codes;
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), product); it != std::sregex_iterator(); ++it)
    {
        const std::string code = (*it)[1].str();
        codes.emplace_back(code.begin(), code.end());
    }
    return codes;
}

void Msiexec(const std::wstring& strArguments)
{
    ASSERT_EQ(RunAndWait(L"msiexec.exe " + strArguments, 120000), 0u) << Utf8(strArguments);
}

// Runs the updater and waits for it to end on its own; false when it did not
// end in time (it is then ended, so that the test does not hang).
bool RunUpdater(const std::wstring& strArguments)
{
    std::wstring strCommand = L"\"" + UpdaterExe() + L"\"";
    if (!strArguments.empty())
        strCommand += L" " + strArguments;
    std::vector<wchar_t> cmd(strCommand.begin(), strCommand.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    {
        ADD_FAILURE() << "cannot start " << Utf8(strCommand);
        return false;
    }
    const bool bEnded = ::WaitForSingleObject(pi.hProcess, 300000) == WAIT_OBJECT_0;
    if (!bEnded)
        ::TerminateProcess(pi.hProcess, 1);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return bEnded;
}

std::vector<std::wstring> FilesIn(const std::wstring& strFolder, const std::wstring& strPattern = L"*")
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((strFolder + L"\\" + strPattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        if (std::wstring(fd.cFileName) != L"." && std::wstring(fd.cFileName) != L"..")
            names.push_back(fd.cFileName);
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    return names;
}

// The log of the run: the one updater log in the log folder.
std::string RunLog()
{
    const std::vector<std::wstring> logs = FilesIn(LogFolder(), L"Vimo_LumetUpdate*.log");
    EXPECT_EQ(logs.size(), 1u);
    return logs.empty() ? std::string("<no log>") : ReadBytes(LogFolder() + L"\\" + logs.front());
}

void CopyPackage(const std::wstring& strFrom, const std::wstring& strTo)
{
    MakeFolders(strTo.substr(0, strTo.rfind(L'\\')));
    ASSERT_TRUE(::CopyFileW(strFrom.c_str(), strTo.c_str(), FALSE)) << Utf8(strFrom);
}

// A machine with Vimo Lumet installed under C:\Apps\Vimo\, two listed earlier
// releases, and the leftovers that the uninstallers miss.
void PrepareInstalledMachine(const std::wstring& strInstallDir = L"C:\\Apps\\Vimo\\")
{
    const std::vector<std::wstring> codes = ListedCodes();
    ASSERT_EQ(codes.size(), 8u);
    Msiexec(L"/i \"" + Package(L"earlier-1.msi") + L"\" /qn");
    Msiexec(L"/i \"" + Package(L"earlier-5.msi") + L"\" /qn");
    ASSERT_TRUE(Installed(codes[1]) && Installed(codes[5]));

    Msiexec(L"/i \"" + Package(L"installed.msi") + L"\" INSTALLDIR=\"" + strInstallDir + L"\" /qn");
    ASSERT_TRUE(Installed(kInstalledCode));
    ASSERT_EQ(RegString(HKEY_LOCAL_MACHINE, kMakerKey, L"ProductCode"), kInstalledCode);
    ASSERT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallRoot + std::wstring(kInstalledCode), L"InstallLocation"), strInstallDir);

    MakeFolders(DataFolder() + L"\\cache\\deep");
    WriteBytes(DataFolder() + L"\\settings.dat", "settings");
    WriteBytes(DataFolder() + L"\\.state", "state");
    WriteBytes(DataFolder() + L"\\cache\\deep\\blob.bin", "blob");

    SetRegString(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet", L"LastProject", L"C:\\Projects\\a.lum");
    SetRegString(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet\\Recent", L"0", L"C:\\Projects\\b.lum");

    MakeFolders(L"C:\\users\\Public\\Desktop");
    WriteBytes(L"C:\\users\\Public\\Desktop\\VimoLumet.lnk", "shortcut");
}

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override { ::CreateDirectoryW(L"C:\\Temp", nullptr); }
};

TEST_F(EndToEnd, TypicalUpdate)
{
    PrepareInstalledMachine();
    CopyPackage(Package(L"new.msi"), L"C:\\Temp\\new.msi");

    ASSERT_TRUE(RunUpdater(L"C:\\Temp\\new.msi")) << "the window did not close by itself";

    for (const std::wstring& code : ListedCodes())
        EXPECT_FALSE(Installed(code)) << Utf8(code);
    EXPECT_FALSE(::GetFileAttributesW(L"C:\\Program Files (x86)\\Vimo Earlier 1\\earlier-1.txt") != INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(Installed(kInstalledCode));

    ASSERT_TRUE(Installed(kNewCode));
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallRoot + std::wstring(kNewCode), L"InstallLocation"), L"C:\\Apps\\Vimo\\");
    EXPECT_TRUE(Exists(L"C:\\Apps\\Vimo\\VimoLumet\\NEW_RELEASE.txt"));
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kMakerKey, L"ProductCode"), kNewCode);

    const std::optional<std::string> started = WaitForFile(L"C:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe.started");
    ASSERT_TRUE(started.has_value()) << "the application was not started";
    EXPECT_NE(started->find("C:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe"), std::string::npos) << *started;

    EXPECT_TRUE(IsFolder(DataFolder()));
    EXPECT_TRUE(FilesIn(DataFolder()).empty());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Vimo"));
    // Shortcuts are found and recorded, not deleted.
    EXPECT_TRUE(Exists(L"C:\\users\\Public\\Desktop\\VimoLumet.lnk"));

    EXPECT_EQ(RunLog(), "Run Lumet\r\nC:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe");
    EXPECT_FALSE(FilesIn(TempFolder() + L"VimoLog", L"VimoLumet*.log").empty());
}

TEST_F(EndToEnd, NothingInstalled)
{
    CopyPackage(Package(L"new.msi"), L"C:\\Temp\\new.msi");
    ASSERT_TRUE(RunUpdater(L"C:\\Temp\\new.msi"));

    ASSERT_TRUE(Installed(kNewCode));
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstallRoot + std::wstring(kNewCode), L"InstallLocation"),
              L"C:\\Program Files (x86)\\Vimo\\");
    EXPECT_TRUE(WaitForFile(std::wstring(kDefaultExe) + L".started").has_value());
    EXPECT_EQ(RunLog(), "Run Lumet\r\n" + Utf8(kDefaultExe));
}

TEST_F(EndToEnd, PackagePathWithBlanks)
{
    PrepareInstalledMachine();
    CopyPackage(Package(L"new.msi"), L"C:\\Temp dir\\Vimo Lumet 4.0.msi");
    ASSERT_TRUE(RunUpdater(L"\"C:\\Temp dir\\Vimo Lumet 4.0.msi\" ignored.msi"));

    EXPECT_TRUE(Installed(kNewCode));
    EXPECT_TRUE(Exists(L"C:\\Apps\\Vimo\\VimoLumet\\NEW_RELEASE.txt"));
    EXPECT_TRUE(WaitForFile(L"C:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe.started").has_value());
}

TEST_F(EndToEnd, PackageThatIsNotAnInstallerPackage)
{
    CopyPackage(FakeAppPath(), L"C:\\Temp\\VimoSetup.exe");
    ASSERT_TRUE(RunUpdater(L"C:\\Temp\\VimoSetup.exe"));

    const std::optional<std::string> setup = WaitForFile(L"C:\\Temp\\VimoSetup.exe.started");
    ASSERT_TRUE(setup.has_value()) << "the package was not run";
    EXPECT_EQ(*setup, "C:\\Temp\\VimoSetup.exe /silent");
    EXPECT_FALSE(Installed(kNewCode));
    EXPECT_EQ(RunLog(), "Run Lumet\r\n" + Utf8(kDefaultExe));
}

TEST_F(EndToEnd, NoArgument)
{
    PrepareInstalledMachine();
    ASSERT_TRUE(RunUpdater(L""));

    // The removal ran; nothing could be installed from an empty path, and the
    // launch tried the old install folder all the same.
    EXPECT_FALSE(Installed(kInstalledCode));
    EXPECT_FALSE(Installed(kNewCode));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet"));
    EXPECT_EQ(RunLog(), "Run Lumet\r\nC:\\Apps\\Vimo\\VimoLumet\\VimoLumet.exe");
}

TEST_F(EndToEnd, InstallLocationWithoutTrailingBackslash)
{
    PrepareInstalledMachine();
    SetRegString(HKEY_LOCAL_MACHINE, kUninstallRoot + std::wstring(kInstalledCode), L"InstallLocation", L"C:\\Apps\\Vimo");
    CopyPackage(Package(L"new.msi"), L"C:\\Temp\\new.msi");
    ASSERT_TRUE(RunUpdater(L"C:\\Temp\\new.msi"));

    // The folder is used as it is: the installer takes it as INSTALLDIR, the
    // launch joins it without a separator.
    EXPECT_TRUE(Installed(kNewCode));
    EXPECT_EQ(RunLog(), "Run Lumet\r\nC:\\Apps\\VimoVimoLumet\\VimoLumet.exe");
}

TEST_F(EndToEnd, OldLogsArePrunedAtStart)
{
    MakeFolders(LogFolder() + L"\\archive");
    const SYSTEMTIME stNow = [] {
        SYSTEMTIME st;
        ::GetSystemTime(&st);
        return st;
    }();
    const struct
    {
        const wchar_t* name;
        long long nAgeDays;
        bool bKept;
    } files[] = {
        {L"Vimo_LumetUpdate20200101_000000.log", 40, false},
        {L"notes.txt", 17, false},
        {L"archive\\Vimo_LumetUpdate20190101_000000.log", 400, false},
        {L"Vimo_LumetUpdate_young.log", 3, true},
        {L".keep", 90, true},
    };
    for (const auto& f : files)
    {
        WriteBytes(LogFolder() + L"\\" + f.name, "old");
        SetLastWriteTime(LogFolder() + L"\\" + f.name, AddSeconds(stNow, -f.nAgeDays * 86400));
    }

    ASSERT_TRUE(RunUpdater(L""));
    for (const auto& f : files)
        EXPECT_EQ(Exists(LogFolder() + L"\\" + f.name), f.bKept) << Utf8(f.name);
    EXPECT_TRUE(IsFolder(LogFolder() + L"\\archive"));
}

TEST_F(EndToEnd, LockedAndProtectedFilesInTheDataFolder)
{
    PrepareInstalledMachine();
    MakeFolders(DataFolder() + L"\\Log");
    WriteBytes(DataFolder() + L"\\Log\\VimoLog_LumetUpdate_1.log", "protected");
    WriteBytes(DataFolder() + L"\\Log\\other.log", "other");
    WriteBytes(DataFolder() + L"\\locked.dat", "locked");
    // Held open without FILE_SHARE_DELETE for the whole run.
    HANDLE hLocked = ::CreateFileW((DataFolder() + L"\\locked.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hLocked, INVALID_HANDLE_VALUE);

    CopyPackage(Package(L"new.msi"), L"C:\\Temp\\new.msi");
    const bool bEnded = RunUpdater(L"C:\\Temp\\new.msi");
    ::CloseHandle(hLocked);
    ASSERT_TRUE(bEnded);

    EXPECT_TRUE(Exists(DataFolder() + L"\\locked.dat"));
    EXPECT_TRUE(Exists(DataFolder() + L"\\Log\\VimoLog_LumetUpdate_1.log"));
    EXPECT_FALSE(Exists(DataFolder() + L"\\Log\\other.log"));
    EXPECT_FALSE(Exists(DataFolder() + L"\\settings.dat"));
    EXPECT_FALSE(Exists(DataFolder() + L"\\cache"));

    // Both are handed over for deletion at the next restart.
    HKEY hKey = nullptr;
    std::wstring all;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &hKey) ==
        ERROR_SUCCESS)
    {
        std::vector<wchar_t> data(65536);
        DWORD cb = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        if (::RegQueryValueExW(hKey, L"PendingFileRenameOperations", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(data.data()), &cb) == ERROR_SUCCESS)
            all.assign(data.data(), cb / sizeof(wchar_t));
        ::RegCloseKey(hKey);
    }
    // The entries are NUL-separated; shown with a bar in their place.
    for (wchar_t& ch : all)
        ch = ch == L'\0' ? L'|' : ch;
    EXPECT_NE(all.find(DataFolder() + L"\\locked.dat"), std::wstring::npos) << Utf8(all);
    EXPECT_NE(all.find(DataFolder() + L"\\Log|"), std::wstring::npos) << Utf8(all);
}
}
