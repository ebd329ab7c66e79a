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

// The steps that would change the machine only look; nothing is installed.
const UpdateSteps kQuietSteps = {
    .pfnPreparePackage =
        [](const std::wstring& strPackage, const std::wstring&, CWorkFolder&, PreparedPackage& prepared) {
            prepared.copy.strPath = strPackage;
            return DWORD{ERROR_SUCCESS};
        },
    .pfnRemoveEarlierVersions = [](CInstallerSession&, const ProductList&) {},
    .pfnUninstallProduct = [](CInstallerSession&, const wchar_t*, const std::wstring&) {},
    .pfnInstallPackage =
        [](CInstallerSession&, const std::wstring& strPackage, const std::wstring&) {
            WriteLog(L"installing " + strPackage + L"\r\n");
            g_strSeen = strPackage + L"|" + CMultiLanguage::GetMessageText(IDS_STRING_UPDATE);
            return DWORD{ERROR_SUCCESS_REBOOT_REQUIRED};
        },
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
        "No restore package: no installed release that the Windows Installer knows\r\n"
        "installing C:\\Temp dir\\new.msi\r\nPackage not kept (3)\r\n");
    // ...but not by its bare name once start-up has narrowed the search.
    EXPECT_EQ(::LoadLibraryW(L"lumet_beside.dll"), nullptr);
}
}
