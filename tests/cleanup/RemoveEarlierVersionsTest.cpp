#include "CleanupTestSupport.h"

#include "installer/MyRegKey.h"
#include "installer/ProcessRunner.h"
#include "resources/ProductList.h"
#include "win/Com.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <utility>
#include <vector>

namespace
{
// Every command as it would be run, with the number of leftovers recorded by
// then: none until the clean-up has run.
const ProductList* g_pList = nullptr;
std::vector<std::pair<std::wstring, size_t>> g_vecRuns;

bool RecordRun(const std::wstring&, const std::wstring& strCommandLine)
{
    g_vecRuns.emplace_back(strCommandLine, g_pList->m_vecFoundPaths.size());
    return false; // no installer could be started: the loop goes on all the same
}

// On a machine with what the uninstallers leave behind, with the shipped list
// and then with an empty one; the clean-up driver runs for real.
TEST(RemoveEarlierVersionsTest, ListedReleasesAreRemovedInOrderThenTheLeftoversCleanedUpOnce)
{
    SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine, &RecordRun);
    const std::wstring strMenu = L"\\Microsoft\\Windows\\Start Menu\\Programs\\";
    const std::wstring strUserMenu = L"C:\\users\\Lumet-Driver\\AppData\\Roaming" + strMenu;
    const std::wstring strData = L"C:\\ProgramData\\Vimo\\VimoLumet";
    const PlantedPath profile{L"C:\\users\\Lumet-Driver"}, data{L"C:\\ProgramData\\Vimo"},
        commonMenu{L"C:\\ProgramData" + strMenu + L"Vimo"};
    for (const std::wstring& strFile :
         {profile.strPath + L"\\Desktop\\VimoLumet.lnk", commonMenu.strPath + L"\\VimoLumet.lnk",
          strUserMenu + L"Vimo\\VimoLumet Help.lnk", strUserMenu + L"Startup\\Vimo\\VimoLumet Tray.lnk",
          strData + L"\\settings.xml", strData + L"\\Cache\\a.bin"})
        WriteBytes(strFile, "planted");
    for (const wchar_t* pszKey : {L"Software\\Vimo\\Lumet", L"Software\\Vimo\\Lumet\\Recent", L"Software\\Vimo\\Keep"})
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, pszKey, L"Value", REG_SZ, L"x", 4), ERROR_SUCCESS);
    // Desktop, common start menu, per-user Programs, per-user Startup.
    const std::vector<std::wstring> recorded = {
        L"c:\\users\\lumet-driver\\desktop\\vimolumet.lnk", commonMenu.strPath + L"\\vimolumet.lnk",
        strUserMenu + L"Vimo\\vimolumet help.lnk", strUserMenu + L"Startup\\Vimo\\vimolumet tray.lnk"};

    CComInit com;
    for (const bool bEmpty : {false, true})
    {
        ProductList list;
        if (bEmpty)
            list.m_vecProducts.clear();
        const std::vector<ProductEntry> products = list.m_vecProducts;
        ASSERT_EQ(products.size(), bEmpty ? 0u : 8u);
        g_pList = &list;
        g_vecRuns.clear();

        list.RemoveEarlierVersions();

        ASSERT_EQ(g_vecRuns.size(), products.size());
        for (size_t i = 0; i < products.size(); ++i)
        {
            EXPECT_TRUE(g_vecRuns[i].first.starts_with(L"MsiExec.exe /X" + products[i].strProductCode + L" /quiet"))
                << Utf8(g_vecRuns[i].first);
            EXPECT_EQ(g_vecRuns[i].second, 0u) << "cleaned up before run " << i;
        }
        EXPECT_EQ(list.m_vecFoundPaths, recorded); // the shortcuts stay, so both runs find them
    }
    EXPECT_TRUE(IsFolder(strData) && std::filesystem::is_empty(strData)); // emptied, kept
    EXPECT_NE(CMyRegKey().Open(HKEY_CURRENT_USER, L"Software\\Vimo\\Lumet"), ERROR_SUCCESS);
    EXPECT_EQ(CMyRegKey().Open(HKEY_CURRENT_USER, L"Software\\Vimo\\Keep"), ERROR_SUCCESS);
    ::SHDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Vimo");
}
}
