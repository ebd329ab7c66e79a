#include "app/StartUp.h"

#include "TestSupport.h"

#include "app/UpdateRun.h"
#include "log/Log.h"
#include "resources/MultiLanguage.h"
#include "resources/resource.h"
#include "win/KnownFolders.h"

#include <gtest/gtest.h>
#include <shlobj.h>

namespace
{
// What the install step saw of the process that start-up prepared.
std::wstring g_strSeen;

const UpdateSteps kQuietSteps = {
    .pfnGetProductCode = [] { return std::wstring(); },
    .pfnGetInstallLocation = [] { return std::wstring(); },
    .pfnPreparePackage =
        [](const std::wstring& strPackage, const std::wstring&, CWorkFolder&, PreparedPackage& prepared) {
            prepared.copy.strPath = strPackage;
            return DWORD{ERROR_SUCCESS};
        },
    .pfnFindRestorePackage =
        [](const std::wstring&, const Signer&, CWorkFolder&, RestorePackage& restore) {
            restore.strWhyNone = L"none here";
            return false;
        },
    .pfnRemoveEarlierVersions = [](CInstallerSession&, const ProductList&) {},
    .pfnRemoveLeftovers = [](CWorkFolder&, const std::wstring&) { return std::vector<std::wstring>(); },
    .pfnGetUninstallString = [] { return std::wstring(); },
    .pfnUninstallProduct = [](CInstallerSession&, const wchar_t*, const std::wstring&) {},
    .pfnInstallPackage =
        [](CInstallerSession&, const std::wstring& strPackage, const std::wstring&) {
            WriteLog(L"installing " + strPackage);
            g_strSeen = strPackage + L"|" + CMultiLanguage::GetMessageText(IDS_STRING_UPDATE);
            return DWORD{ERROR_SUCCESS_REBOOT_REQUIRED};
        },
    .pfnKeepPackage = [](const CopiedFile&, const std::wstring&, bool) { return DWORD{ERROR_SUCCESS}; },
    .pfnLaunchApplication = [](const std::wstring&) {},
};

// The whole of start-up and shutdown, as the program runs them, around an
// update whose steps only look.
TEST(StartUp, PreparesTheProcessRunsTheUpdateAndReleasesWhatItMade)
{
    // Found in the program's folder when that is searched...
    HMODULE hBeside = ::LoadLibraryExW(L"lumet_beside.dll", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
    ASSERT_NE(hBeside, nullptr);
    ::FreeLibrary(hBeside);
    FixedClock clock(MakeSystemTime(2024, 2, 29, 23, 59, 58));

    // The install's exit code is the process's.
    EXPECT_EQ(RunLumetUpdate(L"LumetUpdate.exe \"C:\\Temp dir\\new.msi\" ignored", kQuietSteps), 3010);

    EXPECT_EQ(g_strSeen, L"C:\\Temp dir\\new.msi|Update [APPLICATION] in progress, please wait.");
    EXPECT_EQ(g_pMessageTable, nullptr);
    EXPECT_FALSE(IsLogOpen());
    EXPECT_EQ(
        ReadBytes(GetShellFolder(CSIDL_LOCAL_APPDATA) + L"\\Vimo\\VimoLumet\\Log\\Vimo_LumetUpdate20240229_235958.log"),
        "No restore package: none here\r\ninstalling C:\\Temp dir\\new.msi");
    // ...but not by its bare name once start-up has narrowed the search.
    EXPECT_EQ(::LoadLibraryW(L"lumet_beside.dll"), nullptr);
}
}
