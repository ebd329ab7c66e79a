#include "TestSupport.h"

#include "installer/ProcessRunner.h"
#include "resources/ProductList.h"
#include "win/Com.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace
{
// Every command as it would be run, with the number of paths the clean-up had
// recorded by then.
const ProductList* g_pList = nullptr;
std::vector<std::pair<std::wstring, size_t>> g_vecRuns;

bool RecordRun(const std::wstring&, const std::wstring& strCommandLine)
{
    g_vecRuns.emplace_back(strCommandLine, g_pList->m_vecFoundPaths.size());
    return false; // no installer could be started: the loop goes on all the same
}

// With one shortcut on a desktop, the clean-up shows when it ran, and how often.
TEST(RemoveEarlierVersionsTest, RemovesEveryListedReleaseInOrderThenCleansUpOnce)
{
    SeamOverride<PfnRunCommandLine> runner(g_pfnRunCommandLine, &RecordRun);
    WriteBytes(L"C:\\users\\Public\\Desktop\\VimoLumet.lnk", "planted");
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
        EXPECT_EQ(list.m_vecFoundPaths, std::vector<std::wstring>{L"c:\\users\\public\\desktop\\vimolumet.lnk"});
    }
    ::DeleteFileW(L"C:\\users\\Public\\Desktop\\VimoLumet.lnk");
}
}
