#include "TestSupport.h"

#include "installer/MyRegKey.h"
#include "installer/ProcessRunner.h"
#include "resources/ProductList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace
{
std::vector<std::wstring> g_vecRun;
const std::wstring kLogFolder = (std::filesystem::temp_directory_path() / L"VimoLog").wstring();

TEST(InstallerRunsTest, EachOperationRunsItsOneCommandLine)
{
    const std::wstring strLog = L" /lv \"" + kLogFolder + L"\\VimoLumet20210102_030405.log\"";
    const std::wstring strCode = L"{8FB82970-3479-4000-ABC5-3425AC3B2087}";
    const std::wstring strQuiet = L"MsiExec.exe /X" + strCode + L" /quiet" + strLog;
    const wchar_t* pszOwn = L"\"C:\\Program Files (x86)\\Vimo\\uninst.exe\" /S";
    struct Case
    {
        const char* pszLabel;
        const wchar_t* pszArgument; // the package, or with no folder the uninstall command
        const wchar_t* pszFolder;   // null: a removal
        std::vector<std::wstring> vecRun;
        bool bLogFolder;
    };
    const Case cases[] = {
        {"no command", nullptr, nullptr, {strQuiet}, true},
        {"lower case, other code", L"msiexec.exe /x{551FA9F5-68BB-4EE4-A5D1-6B28B20E877E}", nullptr, {strQuiet}, true},
        {"maintenance form", L"MsiExec.exe /I{551FA9F5-68BB-4EE4-A5D1-6B28B20E877E}", nullptr, {strQuiet}, true},
        {"own uninstaller", pszOwn, nullptr, {pszOwn}, true},
        {"empty command", L"", nullptr, {}, true},
        {".exe package",
         L"C:\\Temp\\Vimo Setup.exe",
         L"D:\\Apps\\Vimo\\",
         {L"C:\\Temp\\Vimo Setup.exe /silent"},
         false},
        {".Msi, no folder",
         L"C:\\Temp\\new.Msi",
         L"",
         {L"MsiExec.exe /i \"C:\\Temp\\new.Msi\" INSTALLDIR=\"C:\\Program Files (x86)\\Vimo\\\" /qn" + strLog},
         true},
        {".msi into a folder",
         L"C:\\Temp\\new.msi",
         L"D:\\Apps\\Vimo\\",
         {L"MsiExec.exe /i \"C:\\Temp\\new.msi\" INSTALLDIR=\"D:\\Apps\\Vimo\\\" /qn" + strLog},
         true},
    };

    FixedClock clock(MakeSystemTime(2021, 1, 2, 3, 4, 5));
    SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine, [](const std::wstring& strCommandLine) {
        g_vecRun.push_back(strCommandLine);
        return true;
    });
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.pszLabel);
        std::error_code ec;
        std::filesystem::remove_all(kLogFolder, ec);
        g_vecRun.clear();
        ProductList list;
        if (c.pszFolder)
            list.InstallPackage(c.pszArgument, c.pszFolder);
        else
            list.UninstallProduct(c.pszArgument, strCode);
        EXPECT_EQ(g_vecRun, c.vecRun);
        EXPECT_EQ(IsFolder(kLogFolder), c.bLogFolder);
        EXPECT_EQ(list.m_strInstallPackage, c.pszFolder ? c.pszArgument : L"");
    }
}

TEST(RunCommandLineTest, WaitsForACommandOf32766CharactersAndRefusesALongerOne)
{
    // A copy of the stand-in application, so that its marker is ours alone.
    ScratchFolder folder(L"run");
    const std::wstring strApp = folder / L"app.exe";
    ASSERT_TRUE(::CopyFileW(FakeAppPath().c_str(), strApp.c_str(), FALSE));
    std::wstring strCommand = L"\"" + strApp + L"\" ";
    strCommand.resize(32766, L'x');

    EXPECT_TRUE(RunCommandLine(strCommand));
    EXPECT_EQ(ReadBytes(strApp + L".started").size(), 32766u);
    ::DeleteFileW((strApp + L".started").c_str());
    EXPECT_FALSE(RunCommandLine(strCommand + L'x'));
    EXPECT_FALSE(Exists(strApp + L".started"));
}

// Wine's own msiexec with the installed release that the end-to-end tests
// build; CTest gives its folder as a Unix path.
TEST(RealInstallerTest, InstallsIntoTheGivenFolderAndRemovesThroughTheStoredCommand)
{
    const char* pszPackages = std::getenv("LUMET_PACKAGES_DIR");
    ASSERT_TRUE(pszPackages && *pszPackages) << "LUMET_PACKAGES_DIR is not set: run through CTest";
    const std::wstring strPackage =
        std::filesystem::path("Z:" + std::string(pszPackages) + "/installed.msi").make_preferred().wstring();
    ASSERT_TRUE(Exists(strPackage));
    const std::wstring strCode = L"{C0DE0001-5A7E-4C1D-9B2A-000000000001}";
    ScratchFolder apps(L"apps");
    const std::wstring strInstallDir = apps / L"Vimo Lumet\\";
    FixedClock clock(MakeSystemTime(2020, 12, 10, 2, 29, 19));
    ProductList list;

    // Everything is in place when InstallPackage returns, the log included.
    list.InstallPackage(strPackage, strInstallDir);
    EXPECT_EQ(ReadBytes(strInstallDir + L"VimoLumet\\OLD_RELEASE.txt"), "installed release\n");
    EXPECT_FALSE(ReadBytes(kLogFolder + L"\\VimoLumet20201210_022919.log").empty());
    EXPECT_EQ(list.GetProductCode(), strCode);
    EXPECT_EQ(list.GetInstallLocation(), strInstallDir);
    const std::wstring strUninstall = list.GetUninstallString();
    EXPECT_EQ(strUninstall, L"MsiExec.exe /I" + strCode);

    // Wine removes the files from the package's default folder, so the
    // registry tells whether the product is gone.
    list.UninstallProduct(strUninstall.c_str(), strCode);
    const std::wstring strEntry = L"Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + strCode;
    CMyRegKey entry;
    EXPECT_EQ(entry.Open(HKEY_LOCAL_MACHINE, strEntry.c_str()), ERROR_FILE_NOT_FOUND);
}
}
